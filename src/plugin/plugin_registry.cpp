#include "plugin/plugin_registry.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/message_loop.h"
#include "platform/thread.h"
#include "threading/thread_marks.h"

namespace {

constinit std::atomic<TPluginModuleClass> g_module_class{&CreatePluginModule<TqonPlugin>};
constinit std::atomic<TPluginRegistry*> g_registry{nullptr};

std::mutex& UnloadLock() {
  static std::mutex lock;
  return lock;
}
std::vector<TUnloadProcedure>*& UnloadProcedures() {
  static std::vector<TUnloadProcedure>* procedures = nullptr;
  return procedures;
}

// The modules whose export calls the current thread is inside.
struct ExportCallTag;
using ExportCalls = TThreadMarks<ExportCallTag>;

// How long FreePluginInstance waits for calls in progress: polls of the
// thread's messages with a short real sleep between them (about 30 s).
constexpr int kFreeWaitPolls = 3000;
constexpr uint32_t kFreeWaitPollMs = 10;

void DropReference(TqonPlugin* module) {
  if (module->ReleaseCallRef()) delete module;
}

// Frees a module taken out of the registry once no call uses it.
void Retire(TqonPlugin* module) {
  if (!TPluginCall::InCall(module)) {
    for (int i = 0; i < kFreeWaitPolls && module->CallRefs() > 1; ++i) {
      platform::PumpMessages(0);
      platform::SleepMs(kFreeWaitPollMs);
    }
  }
  DropReference(module);
}

}  // namespace

void SetPluginModuleClass(TPluginModuleClass module_class) {
  g_module_class = module_class ? module_class : &CreatePluginModule<TqonPlugin>;
}

TPluginModuleClass PluginModuleClass() {
  return g_module_class.load();
}

void PluginLibraryInitialize() {
  if (g_registry.load()) return;
  auto* registry = new TPluginRegistry(false);
  TPluginRegistry* expected = nullptr;
  if (!g_registry.compare_exchange_strong(expected, registry)) delete registry;
}

void PluginLibraryFinalize() {
  {
    std::lock_guard<std::mutex> guard(UnloadLock());
    delete std::exchange(UnloadProcedures(), nullptr);
  }
  TPluginRegistry* registry = g_registry.exchange(nullptr);
  if (!registry) return;
  std::vector<TqonPlugin*> modules;
  {
    auto w = registry->WriteLocked();
    modules.assign(w->begin(), w->end());
    for (TqonPlugin* m : modules)
      w->Extract(m);
  }
  // No waiting here: at process exit the threads of calls still counted are
  // gone. A module still in a call is left to that call.
  for (TqonPlugin* m : modules)
    DropReference(m);
  delete registry;
}

TPluginRegistry* PluginRegistry() {
  return g_registry.load();
}

void RegisterUnloadProcedure(TUnloadProcedure procedure) {
  std::lock_guard<std::mutex> guard(UnloadLock());
  auto*& procedures = UnloadProcedures();
  if (!procedures) procedures = new std::vector<TUnloadProcedure>();
  procedures->push_back(procedure);
}

void RunUnloadProcedures() {
  std::vector<TUnloadProcedure>* procedures = nullptr;
  {
    std::lock_guard<std::mutex> guard(UnloadLock());
    procedures = std::exchange(UnloadProcedures(), nullptr);
  }
  if (!procedures) return;
  for (TUnloadProcedure procedure : *procedures) {
    try {
      procedure();
    } catch (...) {
      // One failing procedure does not keep the others from running.
    }
  }
  delete procedures;
}

// --------------------------------------------------------------------------

TPluginCall::TPluginCall(TqonPlugin* module) : module_(module) {
  module_->AddCallRef();
  ExportCalls::Add(module_);
}

TPluginCall::~TPluginCall() {
  Reset();
}

TPluginCall& TPluginCall::operator=(TPluginCall&& other) noexcept {
  if (this != &other) {
    Reset();
    module_ = std::exchange(other.module_, nullptr);
  }
  return *this;
}

void TPluginCall::Reset() noexcept {
  TqonPlugin* module = std::exchange(module_, nullptr);
  if (!module) return;
  // Calls end in reverse order within a thread, but a moved guard may not.
  ExportCalls::Remove(module);
  DropReference(module);
}

bool TPluginCall::InCall(const TqonPlugin* module) {
  return ExportCalls::Contains(module);
}

TPluginCall TPluginCall::Find(uintptr_t handle) {
  TPluginRegistry* registry = PluginRegistry();
  if (!registry || handle == 0) return TPluginCall();
  auto r = registry->ReadLocked();
  for (TqonPlugin* m : *r)
    if (reinterpret_cast<uintptr_t>(m->Identity.SelfHandle) == handle) return TPluginCall(m);
  return TPluginCall();
}

std::vector<TPluginCall> TPluginCall::All() {
  std::vector<TPluginCall> calls;
  TPluginRegistry* registry = PluginRegistry();
  if (!registry) return calls;
  auto r = registry->ReadLocked();
  calls.reserve(static_cast<size_t>(r->Count()));
  for (TqonPlugin* m : *r)
    calls.push_back(TPluginCall(m));
  return calls;
}

bool RegisterPluginModule(std::unique_ptr<TqonPlugin> module) {
  TPluginRegistry* registry = PluginRegistry();
  if (!registry || !module) return false;
  registry->Add(module.get());
  module.release();
  return true;
}

bool FreePluginModule(uintptr_t handle) {
  TPluginRegistry* registry = PluginRegistry();
  if (!registry || handle == 0) return false;
  TqonPlugin* removed = nullptr;
  {
    auto w = registry->WriteLocked();
    for (TqonPlugin* m : *w) {
      if (reinterpret_cast<uintptr_t>(m->Identity.SelfHandle) == handle) {
        removed = m;
        break;
      }
    }
    // By identity, under the write lock: nothing can have moved it meanwhile.
    if (removed) w->Extract(removed);
  }
  if (!removed) return false;
  Retire(removed);
  return true;
}
