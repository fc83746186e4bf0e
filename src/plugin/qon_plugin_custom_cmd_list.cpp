#include "plugin/qon_plugin_custom_cmd_list.h"

#include "plugin/text_lines.h"

void TqonPluginCustomCmdList::Add(std::string name, std::string caption, bool flag_b, bool flag_a,
                                  std::string data) {
  auto cmd = std::make_unique<TqonPluginCustomCmd>();
  cmd->Name = std::move(name);
  cmd->Caption = std::move(caption);
  cmd->Data = std::move(data);
  cmd->FlagA = flag_a;
  cmd->FlagB = flag_b;
  std::lock_guard<std::mutex> guard(lock_);
  items_.push_back(std::move(cmd));
}

std::string TqonPluginCustomCmdList::AsText() const {
  std::lock_guard<std::mutex> guard(lock_);
  std::string text;
  for (const auto& c : items_) {
    text += c->Name + "|" + c->Caption + "|" + c->Data + "|" + (c->FlagA ? "1" : "0") + "|" +
            (c->FlagB ? "1" : "0") + "\r\n";
  }
  return text;
}

void TqonPluginCustomCmdList::LoadFromText(std::string_view text) {
  for (const std::string& line : SplitLines(text)) {
    if (line.empty()) continue;
    const std::vector<std::string> f = SplitFields(line, "|");
    if (f.size() < 5) continue;
    Add(f[0], f[1], f[4] == "1", f[3] == "1", f[2]);
  }
}

int TqonPluginCustomCmdList::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(items_.size());
}

TqonPluginCustomCmd TqonPluginCustomCmdList::Items(int index) const {
  std::lock_guard<std::mutex> guard(lock_);
  return *items_.at(static_cast<size_t>(index));
}

void TqonPluginCustomCmdList::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  items_.clear();
}
