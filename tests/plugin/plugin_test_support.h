#pragma once
// Call records and instances for in-process tests of the plug-in entry.
#include <functional>
#include <memory>
#include <string>

#include "paramlist/params_list.h"
#include "paramlist/plugin_records.h"
#include "plugin/plugin_entry.h"
#include "plugin/plugin_registry.h"
#include "plugin/qon_plugin.h"

namespace plugin_test {

// A record whose Params points at a list object, as older hosts pass it.
struct Call {
  TPluginCallRec rec{};
  TqonParamsList params;

  explicit Call(uintptr_t instance = 0) {
    rec.Size = kCallRecSize;
    rec.Instance = instance;
    rec.Params = reinterpret_cast<uintptr_t>(&params);
  }
  Call& Set(const std::string& name, OleVariant value) {
    params.SetValue(name, std::move(value), true);
    return *this;
  }
  OleVariant Result() const { return params.GetValue("RESULT"); }
};

// Registers a factory that gives every new TqonPlugin the handlers of
// `setup`, and initialises the library; undone at destruction.
class Library {
 public:
  explicit Library(std::function<void(TqonPlugin&)> setup = nullptr);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Creates an instance; 0 when refused.
  uintptr_t Create();
  // The module behind a handle (the test owns no reference).
  static TqonPlugin& Module(uintptr_t handle) { return *reinterpret_cast<TqonPlugin*>(handle); }
  int32_t Command(uintptr_t handle, const std::string& command, Call* call = nullptr);
};

}  // namespace plugin_test
