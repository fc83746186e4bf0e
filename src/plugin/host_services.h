#pragma once
// The host application's functions, looked up by name in the host module at
// "LOAD". Only "Telvano_SendDataEx" is called.
#include <atomic>
#include <cstdint>

#include "platform/abi.h"
#include "platform/module.h"

using TSendDataExFn = int32_t(QON_STDCALL*)(uint32_t host_module_id, uint32_t data_source_no,
                                            uintptr_t client_id, uintptr_t reserved, uint32_t kind,
                                            const void* data, uint32_t size);

// Kinds of "Telvano_SendDataEx".
constexpr uint32_t kSendParsedList = 9;
constexpr uint32_t kSendRawBytes = 129;
constexpr uint32_t kSendText = 130;

// Read from data paths while "LOAD" may set them: atomic.
struct THostFunctions {
  std::atomic<void*> SendNotify{nullptr};
  std::atomic<TSendDataExFn> SendDataEx{nullptr};
  std::atomic<void*> DataSourceData{nullptr};
  std::atomic<void*> DataSourceState{nullptr};
  std::atomic<void*> ManageDynForm{nullptr};

  // Each function the module lacks becomes null.
  void LookUp(platform::ModuleHandle module);
};
