// Hosts without a message loop of their own (POSIX) pump the library's
// timers and messages in each thread that drives it. Not built for Windows,
// where the host's message loop does this.
#include "platform/abi.h"
#include "plugin/plugin_entry.h"

QON_EXPORT int32_t PumpPluginMessages(uint32_t max_wait_ms) {
  return plugin_entry::PumpPluginMessages(max_wait_ms);
}
