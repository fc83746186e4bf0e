#include "dlt645/query_config.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_set>

#include "base/str_to_int.h"
#include "base/trim.h"
#include "config/store/proxy_code_object.h"
#include "config/xml/dov_xml_tree.h"
#include "config/xml/read_cfg.h"
#include "dlt645/frame_codec.h"
#include "dlt645/func_types.h"
#include "dlt645/load_profile.h"
#include "dlt645/request_item.h"
#include "parser/cron/queue_schedule.h"
#include "parser/data_source.h"
#include "parser/queue_controller.h"
#include "platform/strings.h"

namespace {

constexpr char kRootName[] = "DL_T645_2007_QUERY";
constexpr int32_t kDefaultTimeout = 300;

void LogLoad(const TQueryLog& log, TLogLevel level, const std::string& text) {
  if (log) log(level, text);
}

// A request's devices, logged as the plug-in loads them.
std::vector<std::string> RequestDevices(const TdovXMLNode* request, const std::string& caption,
                                        const TQueryLog& log) {
  TRequestDevices judged = ReadRequestDevices(request);
  for (const std::string& entry : judged.Refused)
    LogLoad(log, TLogLevel::Error,
            caption + ": device \"" + entry + "\" is not a meter address; nothing is sent to it");
  if (judged.NoneLeft)
    LogLoad(log, TLogLevel::Error, caption + ": no device left to poll; the request sends nothing");
  return std::move(judged.Devices);
}

// The items of one response item for every device, appended device-major by
// the caller. False when the item names no known function.
bool SelectItem(const TdovXMLNode* item, std::string* function_text, TFuncSelection* selection,
                uint8_t* rate) {
  *function_text = ReadCfgText(item, "Function", "");
  int32_t code = 0;
  if (!TryStrToInt("$" + *function_text, &code)) return false;
  // Code 0 is a real register, but only written out in full: an empty or
  // stray "0" still configures nothing.
  if (code == 0 && TrimControls(*function_text) != "00000000") return false;
  // Used modulo 256, negative numbers included.
  const uint8_t r = static_cast<uint8_t>(ReadCfgInt(item, "Rate", 0));
  if (!SelectFuncType(static_cast<uint32_t>(code), r, selection)) return false;
  // A row without rates takes none: its values keep their plain names.
  *rate = selection->FuncType->RateCount != 0 ? r : 0;
  return true;
}

// What a request asks of load-profile functions; unset parts keep the
// function's own block and class, so older configurations read as before.
struct LoadSettings {
  bool HasBlock = false;
  dlt645::TLoadBlock Block = dlt645::TLoadBlock::Latest;
  bool HasClass = false;
  uint8_t LoadClass = dlt645::kLoadClassAll;
  uint8_t Blocks = 1;
  bool FromToday = false;
  int32_t Offset = 0;  // minutes
};

LoadSettings ReadLoadSettings(const TdovXMLNode* request, const std::string& caption,
                              const TQueryLog& log) {
  LoadSettings out;
  const std::string block =
      platform::AsciiUpperCase(TrimControls(ReadCfgText(request, "LoadBlock", "")));
  if (block == "LATEST" || block == "EARLIEST" || block == "ATTIME") {
    out.HasBlock = true;
    out.Block = block == "LATEST"     ? dlt645::TLoadBlock::Latest
                : block == "EARLIEST" ? dlt645::TLoadBlock::Earliest
                                      : dlt645::TLoadBlock::AtTime;
  } else if (!block.empty()) {
    LogLoad(log, TLogLevel::Warning,
            caption + ": unknown load-profile block \"" + block + "\"; the function's own is read");
  }
  const std::string load_class =
      platform::AsciiUpperCase(TrimControls(ReadCfgText(request, "LoadClass", "")));
  if (load_class == "ALL") {
    out.HasClass = true;
  } else if (load_class.size() == 1 && load_class[0] >= '0' && load_class[0] <= '6') {
    out.HasClass = true;
    out.LoadClass = static_cast<uint8_t>(load_class[0] - '0');
  } else if (!load_class.empty()) {
    LogLoad(log, TLogLevel::Warning,
            caption + ": unknown load-profile class \"" + load_class +
                "\"; the function's own is read");
  }
  const int32_t blocks = ReadCfgInt(request, "LoadBlocks", 1);
  out.Blocks = static_cast<uint8_t>(std::clamp(blocks, 1, 99));
  if (blocks != out.Blocks)
    LogLoad(log, TLogLevel::Warning,
            caption + ": " + std::to_string(blocks) + " load-profile blocks; " +
                std::to_string(out.Blocks) + " are read");
  const std::string from =
      platform::AsciiUpperCase(TrimControls(ReadCfgText(request, "LoadTimeFrom", "")));
  out.FromToday = from == "TODAY";
  out.Offset = ReadCfgInt(request, "LoadTimeOffset", 0);
  return out;
}

struct SelectedItem {
  std::string FunctionText;
  TFuncSelection Selection;
  uint8_t Rate = 0;
};

}  // namespace

std::vector<std::string> SplitDevices(std::string_view text) {
  std::vector<std::string> entries;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find_first_of(";,", begin);
    entries.emplace_back(text.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  return entries;
}

TRequestDevices ReadRequestDevices(const TdovXMLNode* request) {
  TRequestDevices judged;
  const std::vector<std::string> entries = SplitDevices(ReadCfgText(request, "Device", "*"));
  bool special = false;
  bool written = false;
  for (const std::string& entry : entries) {
    const std::string_view trimmed = TrimControls(entry);
    if (trimmed.empty()) continue;
    written = true;
    if (dlt645::IsWildcardDevice(trimmed) || dlt645::IsBroadcastDevice(trimmed)) {
      special = true;
      continue;
    }
    if (!IsMeterAddress(trimmed)) judged.Refused.push_back(entry);
  }
  for (std::string& device : NormalizeDeviceList(entries))
    if (IsMeterAddress(TrimControls(device))) judged.Devices.push_back(std::move(device));
  if (judged.Devices.empty()) {
    if (!written || special)
      judged.Devices.emplace_back("*");
    else
      judged.NoneLeft = true;
  }
  return judged;
}

bool IsMeterAddress(std::string_view entry) {
  return !entry.empty() && entry.size() <= 12 &&
         std::all_of(entry.begin(), entry.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> NormalizeDeviceList(std::vector<std::string> entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
    return platform::AnsiLowerCase(a) < platform::AnsiLowerCase(b);
  });
  std::vector<std::string> kept;
  std::unordered_set<std::string> seen;
  for (std::string& entry : entries) {
    const std::string_view trimmed = TrimControls(entry);
    int64_t number = 0;
    if (!TryStrToInt64(trimmed, &number) || number < 0) continue;
    if (!seen.emplace(trimmed).second) continue;
    kept.push_back(std::move(entry));
  }
  return kept;
}

int ReadQueryConfig(std::string_view text, TObjectList<TBasicRequestItem>& list,
                    TQueueControllerTimer* schedule_queue, std::atomic<int>* listen_only,
                    const TQueryLog& log) {
  TdovXMLTree tree;
  tree.SetXML(text);
  const TdovXMLNode* root = tree.FindDescendant(kRootName);
  if (!root) return 0;

  int listen = 0;
  std::vector<SelectedItem> selected;
  for (size_t index = 0; index < root->ChildCount(); ++index) {
    const TdovXMLNode* request = root->Child(index);
    const int position = static_cast<int>(index) + 1;
    const TdovXMLNode* response = ReadCfgNode(request, "Response");
    if (!response) continue;

    TRequestItem request_template;
    request_template.LoadFromNode(request, position);
    request_template.MaxAttempts = 3;
    int32_t timeout = ReadCfgInt(request, "Timeout", kDefaultTimeout);
    // A negative time-out would be an endless wait that blocks the port.
    if (timeout < 0) timeout = kDefaultTimeout;
    if (!request_template.Enabled) {
      ++listen;
      if (listen_only) listen_only->fetch_add(1);
    }
    const std::string units = ReadCfgText(request, "PollUnits", "");
    const std::string known = platform::AsciiUpperCase(units);
    if (!units.empty() && known != "MS" && known != "S" && known != "M" && known != "H")
      LogLoad(log, TLogLevel::Warning,
              request_template.Caption + ": unknown poll unit \"" + units +
                  "\"; the interval is taken in milliseconds");
    const std::vector<std::string> devices = RequestDevices(request, request_template.Caption, log);
    if (schedule_queue &&
        (request_template.Method == kMethodAtTime || request_template.Method == kMethodCron))
      AddTimeEvents(*schedule_queue, request_template);

    const LoadSettings load = ReadLoadSettings(request, request_template.Caption, log);
    selected.clear();
    for (size_t k = 0; k < response->ChildCount(); ++k) {
      SelectedItem s;
      if (SelectItem(response->Child(k), &s.FunctionText, &s.Selection, &s.Rate))
        selected.push_back(std::move(s));
    }
    for (const std::string& device : devices) {
      for (const SelectedItem& s : selected) {
        auto item = std::make_unique<TRequestItem>();
        item->Assign(request_template);
        item->MaxAttempts = request_template.MaxAttempts;
        TRequestParameters& p = item->Parameters;
        // Blanks around an entry never reach the address; log labels show
        // the entry as written.
        p.DeviceText = device;
        p.Address12 = MakeAddress12(TrimControls(device));
        p.Is1997 = s.Selection.Is1997;
        p.Timeout = timeout;
        p.FunctionText = s.FunctionText;
        p.FuncName = s.Selection.FuncName;
        p.Id = s.Selection.Id;
        p.Rate = s.Rate;
        p.FuncType = s.Selection.FuncType;
        p.RequestKind = s.Selection.FuncType->RequestKind;
        p.GroupKey = static_cast<uintptr_t>(position);
        if (IsLoadProfileRow(p.FuncType)) {
          dlt645::TLoadBlock block{};
          uint8_t load_class = 0;
          dlt645::SplitLoadProfileId(p.Id, &block, &load_class);
          p.Id = dlt645::LoadProfileId(load.HasBlock ? load.Block : block,
                                       load.HasClass ? load.LoadClass : load_class);
          p.LoadBlocks = load.Blocks;
          p.LoadFromToday = load.FromToday;
          p.LoadOffset = load.Offset;
        }
        list.Add(std::move(item));
      }
    }
  }
  return listen;
}

void LoadQueryConfig(const TQueryLoadState& state, const TDataSourceCfg* config,
                     TQueueControllerTimer& target, TDataSourceScheduled* source) {
  if (source) target.SetTimerEnabled(false);
  target.ClearRequests();
  const bool allowed = config && (!source || state.Allowed);
  if (!allowed) {
    // Events of requests that are gone would only fire for nothing.
    if (source) target.ClearScheduledEvents();
    return;
  }

  if (source) {
    const double min_interval = config->spMinInt_Value;
    target.MinInterval = std::isfinite(min_interval)
                             ? static_cast<int32_t>(std::llround(
                                   std::clamp(min_interval, -2147483648.0, 2147483647.0)))
                             : 0;
    // Never under the list's lock: clearing waits for a firing in progress.
    target.ClearScheduledEvents();
  }
  std::atomic<int>* listen_only = state.ListenOnly;
  if (listen_only) *listen_only = 0;

  struct RestartAtEnd {
    TQueueControllerTimer* queue;
    ~RestartAtEnd() {
      try {
        if (queue) queue->Restart();
      } catch (...) {
        // The caller reports the load's own error.
      }
    }
  } restart{source ? &target : nullptr};
  // Filled under the list's locks: no tick sees a half-read configuration.
  target.ReloadRequests([&](TObjectList<TBasicRequestItem>& list) {
    ReadQueryConfig(config->lblParams_Caption, list, source ? &target : nullptr, listen_only,
                    state.Log);
  });
}
