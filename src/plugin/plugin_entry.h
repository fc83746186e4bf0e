#pragma once
// What the eight exports do, as plain functions: the library's export file
// forwards to them, and in-process tests call them directly. None of them
// lets an exception escape.
#include <cstdint>

#include "paramlist/plugin_records.h"

namespace plugin_entry {

int32_t CreatePluginInstance(TPluginCallRec* rec) noexcept;
int32_t FreePluginInstance(TPluginCallRec* rec) noexcept;
bool GetModuleInfo(TPluginCallRec* rec, TPluginModuleInfo* info, uint32_t* needed) noexcept;
void GetOptionsDialog(TPluginCallRec* rec) noexcept;
void ShowOptionsDialog(TPluginCallRec* rec) noexcept;
int32_t ProcessData(TPluginCallRec* rec) noexcept;
int32_t ExecutePluginCommand(TPluginCallRec* rec) noexcept;
int32_t GetLogEx(TPluginCallRec* rec) noexcept;
// Runs the due timers and messages of the calling thread (hosts without a
// message loop of their own call it).
int32_t PumpPluginMessages(uint32_t max_wait_ms) noexcept;

// The answers in Output of the dialog exports.
constexpr uintptr_t kDialogNotAcceptable = 1;
constexpr uintptr_t kDialogNone = 2;
constexpr uintptr_t kDialogBufferTooSmall = 3;
constexpr uintptr_t kShowNotAcceptable = 2;
constexpr uintptr_t kShowNoDialog = 3;
constexpr uint32_t kDialogHeaderSize = 24;
constexpr uintptr_t kLibraryUnload = 0xFF01;

}  // namespace plugin_entry
