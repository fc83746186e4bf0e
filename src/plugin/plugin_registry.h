#pragma once
// The process-wide registry of live plug-in instances, the class of data
// module that CreatePluginInstance creates, and the library's lifetime.
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "plugin/qon_plugin.h"
#include "threading/thread_object_list.h"

// The data module class: a function that creates one.
using TPluginModuleClass = std::unique_ptr<TqonPlugin> (*)(TPluginCallRec* rec);
// Null sets the framework's own TqonPlugin back.
void SetPluginModuleClass(TPluginModuleClass module_class);
TPluginModuleClass PluginModuleClass();

// Does not own: a module is freed by whoever drops its last call reference.
using TPluginRegistry = TThreadObjectList<TqonPlugin>;

// Library initialisation and finalisation (process attach and detach).
void PluginLibraryInitialize();
void PluginLibraryFinalize();
// Null before initialisation and after finalisation.
TPluginRegistry* PluginRegistry();

// Procedures run when the host announces that it unloads the library.
using TUnloadProcedure = void (*)();
void RegisterUnloadProcedure(TUnloadProcedure procedure);
// Takes the list (at most once until procedures are registered again) and
// runs it, ignoring their errors.
void RunUnloadProcedures();

// A registered module kept alive for the length of one export call.
class TPluginCall {
 public:
  TPluginCall() = default;
  // The live instance with that handle; empty when the handle names none.
  static TPluginCall Find(uintptr_t handle);
  // Every live instance, in registry order.
  static std::vector<TPluginCall> All();
  ~TPluginCall();
  TPluginCall(TPluginCall&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
  TPluginCall& operator=(TPluginCall&& other) noexcept;
  TPluginCall(const TPluginCall&) = delete;
  TPluginCall& operator=(const TPluginCall&) = delete;

  TqonPlugin* get() const noexcept { return module_; }
  TqonPlugin* operator->() const noexcept { return module_; }
  TqonPlugin& operator*() const noexcept { return *module_; }
  explicit operator bool() const noexcept { return module_ != nullptr; }

  // Whether the calling thread is inside an export call of the module.
  static bool InCall(const TqonPlugin* module);

 private:
  explicit TPluginCall(TqonPlugin* module);
  void Reset() noexcept;

  TqonPlugin* module_ = nullptr;
};

// Appends a new module; false (module freed) without a registry.
bool RegisterPluginModule(std::unique_ptr<TqonPlugin> module);
// Removes the instance with that handle, waits (bounded, pumping messages)
// for the export calls in progress on it, and frees it. When the wait fails,
// or the calling thread is itself inside a call of the instance, the last
// call to end frees it. False when the handle names no live instance.
bool FreePluginModule(uintptr_t handle);
