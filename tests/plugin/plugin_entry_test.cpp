#include "plugin/plugin_entry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "plugin/plugin_resources.h"
#include "plugin_test_support.h"

// Fields of the packed records are compared as values (+field): a reference
// to one may be misaligned.
namespace {

using plugin_test::Call;
using plugin_test::Library;

TEST(PluginEntryCreate, TemporaryLoadFollowsTheParameters) {
  Library lib;
  Call without;
  without.rec.Params = 0;
  ASSERT_EQ(plugin_entry::CreatePluginInstance(&without.rec), 0);
  EXPECT_TRUE(Library::Module(+without.rec.Instance).TemporaryLoad());
  Call with;
  ASSERT_EQ(plugin_entry::CreatePluginInstance(&with.rec), 0);
  EXPECT_FALSE(Library::Module(+with.rec.Instance).TemporaryLoad());
  Call told;
  told.Set("TEMPORARY-LOAD", true);
  ASSERT_EQ(plugin_entry::CreatePluginInstance(&told.rec), 0);
  EXPECT_TRUE(Library::Module(+told.rec.Instance).TemporaryLoad());
  // The call copy gave the host its record back.
  EXPECT_EQ(+told.rec.Params, reinterpret_cast<uintptr_t>(&told.params));
}

std::unique_ptr<TqonPlugin> FailingModule(TPluginCallRec*) {
  throw EqonError("cannot create");
}

TEST(PluginEntryCreate, AFailedConstructionRegistersNothing) {
  PluginLibraryInitialize();
  SetPluginModuleClass(&FailingModule);
  Call c;
  EXPECT_EQ(plugin_entry::CreatePluginInstance(&c.rec), -1);
  EXPECT_EQ(+c.rec.Instance, 0u);
  EXPECT_EQ(PluginRegistry()->Count(), 0);
  SetPluginModuleClass(nullptr);
  PluginLibraryFinalize();
}

int g_unload_runs = 0;

TEST(PluginEntryFree, TheUnloadMarkerRunsTheUnloadProceduresOnly) {
  Library lib;
  const uintptr_t h = lib.Create();
  g_unload_runs = 0;
  RegisterUnloadProcedure([] { ++g_unload_runs; });
  RegisterUnloadProcedure([] { throw EqonError("ignored"); });
  RegisterUnloadProcedure([] { ++g_unload_runs; });
  Call c(0);
  c.rec.Input.Kind = kKindUnload;
  c.rec.Input.Data = plugin_entry::kLibraryUnload;
  EXPECT_EQ(plugin_entry::FreePluginInstance(&c.rec), 0);
  EXPECT_EQ(plugin_entry::FreePluginInstance(&c.rec), 0);
  EXPECT_EQ(g_unload_runs, 2);
  EXPECT_EQ(PluginRegistry()->Count(), 1);
  EXPECT_EQ(lib.Command(h, "UNLOAD"), 0);
}

TEST(PluginEntryFree, FreeingFromInsideACallOfTheInstanceLetsTheCallFinish) {
  int32_t freed = 1;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnCommand = [&](TqonPlugin& self, const std::string&, TPluginCallRec*, int32_t& r) {
      Call free(reinterpret_cast<uintptr_t>(&self));
      freed = plugin_entry::FreePluginInstance(&free.rec);
      // Still alive: the call in progress holds it.
      self.Log(TLogLevel::Success, "after the free");
      r = 5;
    };
  });
  const uintptr_t h = lib.Create();
  EXPECT_EQ(lib.Command(h, "CLOSE-YOURSELF"), 5);
  EXPECT_EQ(freed, 0);
  EXPECT_EQ(PluginRegistry()->Count(), 0);
  EXPECT_EQ(lib.Command(h, "CLOSE-YOURSELF"), -1);
}

TEST(PluginEntryData, UnloadedInstancesRefuseData) {
  Library lib([](TqonPlugin& m) {
    m.Events.OnProcessData = [](TqonPlugin&, TPluginCallRec*, int32_t& r) { r = 1; };
  });
  const uintptr_t h = lib.Create();
  uint8_t byte = 0;
  Call data(h);
  data.rec.Roles = 2;
  auto send = [&] {
    data.rec.Input = TPluginDataDesc{0, 1, 0, reinterpret_cast<uintptr_t>(&byte)};
    return plugin_entry::ProcessData(&data.rec);
  };
  EXPECT_EQ(send(), 1);  // before the first "LOAD" data is taken
  lib.Command(h, "LOAD");
  EXPECT_EQ(send(), 1);
  lib.Command(h, "UNLOAD");
  EXPECT_EQ(send(), -1);
  lib.Command(h, "LOAD");
  EXPECT_EQ(send(), 1);
}

std::map<std::string, std::string>& Resources() {
  static std::map<std::string, std::string> resources;
  return resources;
}
bool FakeResources(std::string_view name, std::string* data) {
  auto it = Resources().find(std::string(name));
  if (it == Resources().end()) return false;
  *data = it->second;
  return true;
}

struct Package {
  std::string form, extra, script;
};
Package Unpack(const std::vector<char>& buffer) {
  uint32_t h[6];
  std::memcpy(h, buffer.data(), sizeof(h));
  return Package{std::string(buffer.data() + h[0], h[1]), std::string(buffer.data() + h[2], h[3]),
                 std::string(buffer.data() + h[4], h[5])};
}

TEST(PluginEntryOptionsDialog, PackagesTheResourcesAndAsksForRoom) {
  Resources() = {{"FORM_DATA", "schema"},
                 {"FORM_NAME", "main\r\n"},
                 {"MAIN", "form"},
                 {"OTHER", "o"},
                 {"OTHER_CODE", "oc"}};
  const TPluginResourceLoader previous = SetPluginResourceLoader(&FakeResources);
  Library lib;
  const uintptr_t h = lib.Create();

  Call c(h);
  std::vector<char> buffer(10, 0);
  c.rec.Input.Size = static_cast<uint32_t>(buffer.size());
  c.rec.Input.Data = reinterpret_cast<uintptr_t>(buffer.data());
  plugin_entry::GetOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Kind, kKindStatus);
  EXPECT_EQ(+c.rec.Output.Data, plugin_entry::kDialogBufferTooSmall);
  ASSERT_EQ(+c.rec.Output.Size, 24u + 4 + 0 + 6);

  buffer.assign(c.rec.Output.Size, 0);
  c.rec.Input.Size = static_cast<uint32_t>(buffer.size());
  c.rec.Input.Data = reinterpret_cast<uintptr_t>(buffer.data());
  plugin_entry::GetOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Kind, kKindDialogLength);
  EXPECT_EQ(+c.rec.Output.Data, 34u);
  Package p = Unpack(buffer);
  EXPECT_EQ(p.form, "form");
  EXPECT_EQ(p.script, "schema");

  // A requested name: the buffer also carries the name.
  buffer.assign(64, 0);
  std::memcpy(buffer.data(), "other", 5);
  c.rec.Input.Size = 64;
  c.rec.Input.Data = reinterpret_cast<uintptr_t>(buffer.data());
  plugin_entry::GetOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Data, 27u);
  p = Unpack(buffer);
  EXPECT_EQ(p.form, "o");
  EXPECT_EQ(p.script, "oc");

  // Nothing to show; a buffer without an address is too small.
  c.rec.Input.Data = 0;
  plugin_entry::GetOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Data, plugin_entry::kDialogBufferTooSmall);
  Resources().clear();
  plugin_entry::GetOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Data, plugin_entry::kDialogNone);
  SetPluginResourceLoader(previous);
}

TEST(PluginEntryOptionsDialog, TheDescriptionEventNamesTheForm) {
  Resources() = {{"MAIN", "form"}, {"MAIN_CODE", "code"}};
  const TPluginResourceLoader previous = SetPluginResourceLoader(&FakeResources);
  std::string name;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnGetOptionsDialog = [&](TqonPlugin&, TPluginCallRec*, std::string& form,
                                      std::string& extra) {
      form = name;
      extra = name.empty() ? "" : "xx";
    };
  });
  const uintptr_t h = lib.Create();
  Call c(h);
  std::vector<char> buffer(64, 0);
  c.rec.Input.Size = 64;
  c.rec.Input.Data = reinterpret_cast<uintptr_t>(buffer.data());
  plugin_entry::GetOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Data, plugin_entry::kDialogNone);
  name = "main";
  plugin_entry::GetOptionsDialog(&c.rec);
  ASSERT_EQ(+c.rec.Output.Kind, kKindDialogLength);
  const Package p = Unpack(buffer);
  EXPECT_EQ(p.form, "form");
  EXPECT_EQ(p.extra, "xx");
  EXPECT_EQ(p.script, "code");
  SetPluginResourceLoader(previous);
}

TEST(PluginEntryShowDialog, KeepsTheInputListAndReloadsSharedSettings) {
  int input_count = -1;
  int reloads = 0;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnShowOptionsDialog = [&](TqonPlugin& self, TPluginCallRec*, bool& changed) {
      input_count = self.Dialog.DialogList ? self.Dialog.DialogList->GetCount() : -1;
      EXPECT_TRUE(self.Dialog.DialogShown);
      changed = true;
    };
    m.Events.OnLoadSettingsNow = [&](TqonPlugin&) { ++reloads; };
  });
  const uintptr_t a = lib.Create();
  const uintptr_t b = lib.Create();
  const uintptr_t other = lib.Create();
  for (uintptr_t h : {a, b, other}) {
    Call load;
    load.Set("REGISTRY-PATH", h == other ? "\\Software\\Other" : "\\Software\\Shared");
    lib.Command(h, "LOAD", &load);
  }

  Call c(a);
  TqonParamsList input;
  input.Add("X", 1);
  input.Add("Y", 2);
  c.rec.Input.Kind = kKindListObject2;
  c.rec.Input.Data = reinterpret_cast<uintptr_t>(&input);
  c.Set("INI-FILE", "dialog.ini");
  plugin_entry::ShowOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Kind, kKindStatus);
  EXPECT_EQ(+c.rec.Output.Data, 1u);
  EXPECT_EQ(input_count, 2);
  EXPECT_EQ(reloads, 2);  // a and b share the settings; other does not
  EXPECT_EQ(Library::Module(a).Settings.IniFile.Get(), "dialog.ini");
  EXPECT_FALSE(Library::Module(a).Dialog.DialogShown);
  EXPECT_FALSE(Library::Module(a).Dialog.DialogList);
  EXPECT_EQ(+c.rec.Input.Kind, kKindListObject2);
  EXPECT_EQ(+c.rec.Input.Data, reinterpret_cast<uintptr_t>(&input));

  Library bare;
  Call none(bare.Create());
  plugin_entry::ShowOptionsDialog(&none.rec);
  EXPECT_EQ(+none.rec.Output.Data, plugin_entry::kShowNoDialog);
}

}  // namespace
