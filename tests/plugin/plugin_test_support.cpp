#include "plugin_test_support.h"

namespace plugin_test {
namespace {

std::function<void(TqonPlugin&)>& Setup() {
  static std::function<void(TqonPlugin&)> setup;
  return setup;
}

std::unique_ptr<TqonPlugin> CreateTestModule(TPluginCallRec* rec) {
  auto module = std::make_unique<TqonPlugin>(rec, 0);
  if (Setup()) Setup()(*module);
  module->AfterConstruction();
  return module;
}

}  // namespace

Library::Library(std::function<void(TqonPlugin&)> setup) {
  Setup() = std::move(setup);
  SetPluginModuleClass(&CreateTestModule);
  PluginLibraryInitialize();
}

Library::~Library() {
  PluginLibraryFinalize();
  SetPluginModuleClass(nullptr);
  Setup() = nullptr;
}

uintptr_t Library::Create() {
  Call call;
  return plugin_entry::CreatePluginInstance(&call.rec) == 0 ? call.rec.Instance : 0;
}

int32_t Library::Command(uintptr_t handle, const std::string& command, Call* call) {
  Call local(handle);
  Call& c = call ? *call : local;
  c.rec.Instance = handle;
  c.Set("COMMAND", command);
  return plugin_entry::ExecutePluginCommand(&c.rec);
}

}  // namespace plugin_test
