// The instance log and the window notifications that tell the host about it.
#include <algorithm>

#include "platform/debug.h"
#include "platform/message_loop.h"
#include "plugin/qon_plugin.h"

void TqonPlugin::Log(TLogLevel level, const std::string& text, bool flag) {
  if (!LogList || destroying_) return;
  try {
    std::string line(1, static_cast<char>((static_cast<int>(level) + 1) | (flag ? 0x80 : 0)));
    const std::string title = Identity.LogTitle.Get();
    if (!title.empty()) line += title + ". ";
    const size_t body = line.size();
    line += text;
    std::replace_if(
        line.begin() + static_cast<std::ptrdiff_t>(body), line.end(),
        [](char c) { return c == '\r' || c == '\n'; }, ' ');
    LogList->AddLine(line);
    NotifyLogLines();
  } catch (...) {
    // The log never fails its caller.
  }
}

void TqonPlugin::LogError(const std::string& context, const std::string& message) {
  const std::string text = "{" + context + "} " + message;
  Log(TLogLevel::Error, text);
  platform::DebugOutput(text + ": ");
}

void TqonPlugin::NotifyLogLines() {
  if (Host.HostWindow.load() == 0) return;
  // One notice until the host fetches the log: a data path never waits on a
  // notification per line.
  if (log_notice_pending_.exchange(true)) return;
  NotifyHost(kMsgLogLines);
}

void TqonPlugin::NotifyHost(uint32_t msg) {
  try {
    const platform::WindowHandle window = Host.HostWindow.load();
    if (window == 0) return;
    const uintptr_t id = Host.HostModuleId.load();
    if (platform::PostMessageTo(window, msg, id, 0)) return;
    intptr_t answer = 0;
    platform::SendMessageTimeoutTo(window, msg, id, 0, kNotifySendTimeoutMs, &answer);
  } catch (...) {
    // Notifications are a courtesy; the host also polls.
  }
}
