// The library's exported functions: plain names, the standard calling
// convention on 32-bit Windows. Library initialisation and finalisation run
// with the library's static objects (process attach and detach).
#include "platform/abi.h"
#include "platform/message_loop.h"
#include "plugin/plugin_entry.h"
#include "plugin/plugin_registry.h"

namespace {

struct LibraryLifetime {
  LibraryLifetime() { PluginLibraryInitialize(); }
  ~LibraryLifetime() {
    PluginLibraryFinalize();
    platform::ShutdownMessageWindows();  // the host's threads may outlive the library
  }
  LibraryLifetime(const LibraryLifetime&) = delete;
  LibraryLifetime& operator=(const LibraryLifetime&) = delete;
};
const LibraryLifetime g_library;

}  // namespace

QON_EXPORT int32_t QON_STDCALL CreatePluginInstance(TPluginCallRec* rec) {
  return plugin_entry::CreatePluginInstance(rec);
}

QON_EXPORT int32_t QON_STDCALL FreePluginInstance(TPluginCallRec* rec) {
  return plugin_entry::FreePluginInstance(rec);
}

QON_EXPORT bool QON_STDCALL GetModuleInfo(TPluginCallRec* rec, TPluginModuleInfo* info,
                                          uint32_t* needed) {
  return plugin_entry::GetModuleInfo(rec, info, needed);
}

QON_EXPORT void QON_STDCALL GetOptionsDialog(TPluginCallRec* rec) {
  plugin_entry::GetOptionsDialog(rec);
}

QON_EXPORT void QON_STDCALL ShowOptionsDialog(TPluginCallRec* rec) {
  plugin_entry::ShowOptionsDialog(rec);
}

QON_EXPORT int32_t QON_STDCALL ProcessData(TPluginCallRec* rec) {
  return plugin_entry::ProcessData(rec);
}

QON_EXPORT int32_t QON_STDCALL ExecutePluginCommand(TPluginCallRec* rec) {
  return plugin_entry::ExecutePluginCommand(rec);
}

QON_EXPORT int32_t QON_STDCALL GetLogEx(TPluginCallRec* rec) {
  return plugin_entry::GetLogEx(rec);
}
