#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "elf_image.h"
#include "host_os.h"
#include "pe_image.h"
#include "plugin_host.h"

// Fields of the packed records are compared as values (+field): a reference
// to one may be misaligned.
namespace {

using host::Call;
using host::Instance;
using host::Value;

// The shipped library's size bound, in bytes: about twice what it weighs
// (1.6 and 1.1 MB).
#ifdef _WIN32
constexpr uintmax_t kShippedLibraryBound = 3'000'000;
#else
constexpr uintmax_t kShippedLibraryBound = 2'200'000;
#endif

const host::PluginLibrary& Fns() {
  return host::Library::Get().Fns();
}

class E2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host::Library::Get().Loaded())
        << host::Library::Get().Path() << ": " << host::Library::Get().Error();
  }
};

TEST_F(E2e, EveryExportIsFoundByItsPlainName) {
  EXPECT_TRUE(Fns().CreatePluginInstance);
  EXPECT_TRUE(Fns().FreePluginInstance);
  EXPECT_TRUE(Fns().GetModuleInfo);
  EXPECT_TRUE(Fns().GetOptionsDialog);
  EXPECT_TRUE(Fns().ShowOptionsDialog);
  EXPECT_TRUE(Fns().ProcessData);
  EXPECT_TRUE(Fns().ExecutePluginCommand);
  EXPECT_TRUE(Fns().GetLogEx);
}

TEST_F(E2e, TheWindowsLibraryExportsEightNamesAndImportsOnlyTheSystem) {
  const PeTables pe = ReadPeTables(host::Library::Get().Path());
  if (!pe.valid) GTEST_SKIP() << "not a Windows image";
  std::vector<std::string> exports = pe.exports;
  std::sort(exports.begin(), exports.end());
  EXPECT_EQ(exports,
            (std::vector<std::string>{"CreatePluginInstance", "ExecutePluginCommand",
                                      "FreePluginInstance", "GetLogEx", "GetModuleInfo",
                                      "GetOptionsDialog", "ProcessData", "ShowOptionsDialog"}));
  const std::vector<std::string> system = {
      "kernel32.dll", "user32.dll", "advapi32.dll", "oleaut32.dll", "ole32.dll", "shell32.dll",
      "version.dll",  "msvcrt.dll", "ntdll.dll",    "ws2_32.dll",   "gdi32.dll", "shlwapi.dll"};
  EXPECT_FALSE(pe.imports.empty());
  for (std::string dll : pe.imports) {
    std::transform(dll.begin(), dll.end(), dll.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool api_set = dll.rfind("api-ms-win-", 0) == 0;
    EXPECT_TRUE(api_set || std::find(system.begin(), system.end(), dll) != system.end()) << dll;
  }
}

TEST_F(E2e, TheSharedLibraryExportsItsFunctionsAndNothingElse) {
  ElfExports elf = ReadElfExports(host::Library::Get().Path());
  if (!elf.valid) GTEST_SKIP() << "not an ELF image";
  std::vector<std::string> exports = elf.functions;
  // The start-up code's own two entry points are the loader's.
  std::erase_if(exports, [](const std::string& n) { return n == "_init" || n == "_fini"; });
  std::sort(exports.begin(), exports.end());
  EXPECT_EQ(exports, (std::vector<std::string>{"CreatePluginInstance", "ExecutePluginCommand",
                                               "FreePluginInstance", "GetLogEx", "GetModuleInfo",
                                               "GetOptionsDialog", "ProcessData",
                                               "PumpPluginMessages", "ShowOptionsDialog"}));
  EXPECT_EQ(elf.others, std::vector<std::string>{});
}

// ./dev test runs this suite once more beside the library that ships, which
// must not grow back to what an unoptimised build with its symbols weighs.
TEST_F(E2e, TheShippedLibraryIsSmall) {
  if (!std::getenv("DLT645_SHIPPED")) GTEST_SKIP() << "only against the release build";
  const auto size = std::filesystem::file_size(host::Library::Get().Path());
  EXPECT_LT(size, kShippedLibraryBound) << "bytes";
}

TEST_F(E2e, CreateRefusesARecordThatNamesAnInstance) {
  Call c(0x1000);
  EXPECT_EQ(Fns().CreatePluginInstance(&c.rec), -1);
  EXPECT_EQ(+c.rec.Instance, 0x1000u);
  Instance a, b;
  EXPECT_NE(a.Handle(), 0u);
  EXPECT_NE(b.Handle(), 0u);
  EXPECT_NE(a.Handle(), b.Handle());
}

TEST_F(E2e, AFreedHandleIsRefusedEverywhere) {
  Instance a;
  const uintptr_t stale = a.Handle();
  EXPECT_EQ(a.Free(), 0);
  Call c(stale, "LOAD");
  EXPECT_EQ(Fns().ExecutePluginCommand(&c.rec), -1);
  EXPECT_EQ(Fns().ProcessData(&c.rec), -1);
  EXPECT_EQ(Fns().FreePluginInstance(&c.rec), -1);
  EXPECT_EQ(Fns().GetLogEx(&c.rec), 0);
  EXPECT_EQ(+c.rec.Output.Kind, 5);
  uint32_t needed = 7;
  EXPECT_FALSE(Fns().GetModuleInfo(&c.rec, nullptr, &needed));
  EXPECT_EQ(needed, 0u);
  Fns().GetOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Data, 1u);
  Fns().ShowOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Data, 2u);
}

TEST_F(E2e, TheUnloadMarkerFreesNoInstance) {
  Instance a;
  Call c(0);
  c.rec.Input.Kind = 6;
  c.rec.Input.Data = 0xFF01;
  EXPECT_EQ(Fns().FreePluginInstance(&c.rec), 0);
  EXPECT_EQ(a.Command("LOAD"), 0);
}

TEST_F(E2e, ModuleInfoOfTheProtocolModule) {
  Instance a;
  Call c(a.Handle());
  const std::string title = "DL-T645/2007 [GPRS]\r\nDL-T645/1997";
  const std::string commands =
      "SYNC-TIME|Synchronise the meters' clocks (broadcast)|DATA-SOURCE|0|0\r\n"
      "READ-ADDRESS|Read the address of the meter on the line|DATA-SOURCE;TIMEOUT|0|0\r\n"
      "READ-NOW|Read one function of one meter "
      "now|DATA-SOURCE;DEVICE;FUNCTION;RATE;TIMEOUT|0|0\r\n";
  const uint32_t need =
      host::kModuleInfoHeader + static_cast<uint32_t>(title.size() + commands.size());

  std::vector<uint8_t> small(host::kModuleInfoHeader - 1, 0xAA);
  auto* info = reinterpret_cast<host::ModuleInfo*>(small.data());
  info->Size = host::kModuleInfoHeader - 1;
  uint32_t needed = 0;
  EXPECT_FALSE(Fns().GetModuleInfo(&c.rec, info, &needed));
  EXPECT_EQ(needed, need);
  EXPECT_EQ(small[host::kModuleInfoHeader - 2], 0xAA);

  std::vector<uint8_t> header(host::kModuleInfoHeader, 0xAA);
  info = reinterpret_cast<host::ModuleInfo*>(header.data());
  info->Size = host::kModuleInfoHeader;
  EXPECT_FALSE(Fns().GetModuleInfo(&c.rec, info, &needed));
  EXPECT_EQ(+info->Size, host::kModuleInfoHeader);
  EXPECT_EQ(+info->Capabilities, 3u | (4u << 16));
  EXPECT_EQ(+info->InterfaceVersion, 4u);
  EXPECT_EQ(+info->ModuleVersion, 5.0f);
  EXPECT_EQ(+info->Options, 1);
  EXPECT_EQ(+info->TitleLen, 0u);
  EXPECT_EQ(+info->TitlePtr, 0u);

  std::vector<uint8_t> full(need);
  info = reinterpret_cast<host::ModuleInfo*>(full.data());
  info->Size = need;
  EXPECT_TRUE(Fns().GetModuleInfo(&c.rec, info, nullptr));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(+info->TitlePtr), +info->TitleLen), title);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(+info->CommandsPtr), +info->CommandsLen),
            commands);

  // Custom commands travel in the same record; more may be added.
  EXPECT_TRUE(a.SetParameter("CustomCommands", Value::Text("SYNC|Sync clock||1|0")));
  std::vector<uint8_t> more(need + 100);
  info = reinterpret_cast<host::ModuleInfo*>(more.data());
  info->Size = need + 100;
  EXPECT_TRUE(Fns().GetModuleInfo(&c.rec, info, &needed));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(+info->CommandsPtr), +info->CommandsLen),
            commands + "SYNC|Sync clock||1|0\r\n");
}

TEST_F(E2e, OptionsDialogPackage) {
  Instance a;
  Call c(a.Handle());
  std::vector<char> buffer(64);
  c.rec.Input.Size = 64;
  c.rec.Input.Data = reinterpret_cast<uintptr_t>(buffer.data());
  Fns().GetOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Kind, 5);
  ASSERT_EQ(+c.rec.Output.Data, 3u);  // too small: the size it takes is told
  const uint32_t total = c.rec.Output.Size;
  ASSERT_GT(total, 24u);

  buffer.assign(total, 0);
  c.rec.Input.Size = total;
  c.rec.Input.Data = reinterpret_cast<uintptr_t>(buffer.data());
  Fns().GetOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Kind, 2);
  EXPECT_EQ(+c.rec.Output.Data, total);
  uint32_t h[6];
  std::memcpy(h, buffer.data(), sizeof(h));
  EXPECT_EQ(h[0], 24u);
  EXPECT_EQ(h[2], h[0] + h[1]);
  EXPECT_EQ(h[4], h[2] + h[3]);
  EXPECT_EQ(h[4] + h[5], total);
  EXPECT_GT(h[1], 0u);  // the form
  EXPECT_EQ(h[3], 0u);  // no extra text
  EXPECT_GT(h[5], 0u);  // the script and schema
  // The form is a component stream; the script travels as one gzip member
  // whose stored file name is "1".
  EXPECT_EQ(std::string(buffer.data() + h[0], 4), "TPF0");
  const auto* gz = reinterpret_cast<const unsigned char*>(buffer.data() + h[4]);
  ASSERT_GT(h[5], 12u);
  EXPECT_EQ(gz[0], 0x1F);
  EXPECT_EQ(gz[1], 0x8B);
  EXPECT_EQ(gz[3] & 0x08, 0x08);  // a file name follows the header
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(gz) + 10, 2), std::string("1\0", 2));

  // Asked by name, the form resource comes with no script of its own.
  std::memcpy(buffer.data(), "tfrmoption", 11);
  c.rec.Input.Size = total;
  Fns().GetOptionsDialog(&c.rec);
  ASSERT_EQ(+c.rec.Output.Kind, 2);
  std::memcpy(h, buffer.data(), sizeof(h));
  EXPECT_EQ(std::string(buffer.data() + h[0], 4), "TPF0");
  EXPECT_EQ(h[5], 0u);

  // A name no resource carries: no dialog.
  std::memcpy(buffer.data(), "nothing", 8);
  Fns().GetOptionsDialog(&c.rec);
  EXPECT_EQ(+c.rec.Output.Data, 2u);
}

TEST_F(E2e, ShowOptionsDialogReportsTheChange) {
  Instance a;
  Call show(a.Handle());
  show.rec.Input.Kind = 9;
  host::ListPtr input = host::MakeList();
  show.rec.Input.Data = input->InterfaceVariable();
  Fns().ShowOptionsDialog(&show.rec);
  EXPECT_EQ(+show.rec.Output.Kind, 5);
  EXPECT_EQ(+show.rec.Output.Size, 4u);
  EXPECT_EQ(+show.rec.Output.Data, 1u);  // the protocol module reports a change
  EXPECT_EQ(input->References(), 1u);
}

TEST_F(E2e, ParamsAndFlagsComeBackAsTheHostPassedThem) {
  Instance a;
  Call c(a.Handle(), "EVENTS-SUPPORT");
  c.Set("RESULT", Value());
  const uintptr_t params = c.rec.Params;
  EXPECT_EQ(a.Command(c), 0);
  EXPECT_EQ(c.Result().AsText(), "PORT-OPEN;PORT-CLOSE");
  EXPECT_EQ(+c.rec.Params, params);
  EXPECT_EQ(+c.rec.Flags, 1);
  // Every reference the call took is back.
  EXPECT_EQ(c.params.References(), 1u);
  for (size_t i = 0; i < c.params.Size(); ++i)
    EXPECT_EQ(c.params.At(i).handed_out, 0) << c.params.At(i).name;
}

TEST_F(E2e, LoadsAreCounted) {
  Instance a;
  EXPECT_EQ(a.Command("LOAD"), 0);
  EXPECT_EQ(a.Command("LOAD"), 0);
  EXPECT_EQ(a.Command("UNLOAD"), 0);
  EXPECT_EQ(a.GetParameter("ModuleLoadCount").AsInt(), 1);
  Call data(a.Handle());
  data.rec.Roles = 2;
  EXPECT_EQ(Fns().ProcessData(&data.rec), 0);
  EXPECT_EQ(a.Command("UNLOAD"), 0);
  EXPECT_EQ(a.GetParameter("TerminateNow").AsInt(), 1);
  EXPECT_EQ(Fns().ProcessData(&data.rec), -1);
  EXPECT_EQ(a.Command("UNLOAD"), 0);
  EXPECT_EQ(a.GetParameter("ModuleLoadCount").AsInt(), 0);
}

TEST_F(E2e, LoadFindsTheHostModule) {
  Instance a;
  Call load(a.Handle(), "LOAD");
  load.rec.HostModuleId = 3;
  load.Set("HANDLE", Value::Int64(hostos::OwnModuleHandle()))
      .Set("CONFIG-ID", Value::Int(42))
      .Set("REGISTRY-PATH", Value::Text("\\Software\\Host\\Dlt645"));
  EXPECT_EQ(a.Command(load), 0);
  EXPECT_EQ(a.GetParameter("ParentApp").AsInt(), hostos::OwnModuleHandle());
  EXPECT_EQ(a.GetParameter("ModuleIndex").AsInt(), 3);
  EXPECT_EQ(a.GetParameter("ModuleLoadForConfig").AsInt(), 42);
  EXPECT_EQ(a.GetParameter("ModuleRegistryPath").AsText(), "\\Software\\Host\\Dlt645");
}

TEST_F(E2e, TheConfigurationIdentifierNamesTheDataFolder) {
  Instance a;
  EXPECT_EQ(a.GetParameter("ModuleConfigId").AsText(), "DL-T645-2007 [GPRS]");
  Call load(a.Handle(), "LOAD");
  load.Set("CONFIG-ID", Value::Int64(host::ConfigIdOf("DL-T645/1997")))
      .Set("REGISTRY-PATH", Value::Text("\\Software\\Maker\\Logger"))
      .Set("INI-SECTION-PREFIX", Value::Text("{Cfg:Main}"));
  EXPECT_EQ(a.Command(load), 0);
  EXPECT_EQ(a.GetParameter("ModuleConfigId").AsText(), "DL-T645-1997");
  const std::string data = a.GetParameter("ModuleDataPath").AsText();
  const std::string app = a.GetParameter("AppDataPath").AsText();
  ASSERT_GT(data.size(), app.size());
  EXPECT_EQ(data.substr(0, app.size()), app);
  EXPECT_NE(app.find("Logger"), std::string::npos);
  EXPECT_EQ(data.substr(app.size(), 17), "Main" + data.substr(data.size() - 1) + "DL-T645-1997");
}

TEST_F(E2e, CommandNamesAreCaseSensitive) {
  Instance a;
  EXPECT_EQ(a.Command("load"), -2);
  EXPECT_EQ(a.GetParameter("ModuleLoadCount").AsInt(), 0);
}

TEST_F(E2e, SetStateSwitchesTheRolesOfTheCall) {
  Instance a;
  auto set_state = [&](uint8_t roles, int32_t on) {
    Call c(a.Handle(), "SET-STATE");
    c.rec.Roles = roles;
    c.Set("RESULT", Value::Int(on));
    return a.Command(c);
  };
  EXPECT_EQ(set_state(2, 1), 0);
  EXPECT_EQ(a.GetParameter("ModuleEnabled").AsInt(), 2);
  EXPECT_EQ(set_state(1, 1), 0);
  EXPECT_EQ(a.GetParameter("ModuleEnabled").AsInt(), 3);
  EXPECT_EQ(set_state(2, 0), 0);
  EXPECT_EQ(a.GetParameter("ModuleEnabled").AsInt(), 1);
  EXPECT_EQ(a.Command("UNLOAD"), 0);  // without a load: nothing changes
  EXPECT_EQ(a.GetParameter("ModuleEnabled").AsInt(), 1);
}

TEST_F(E2e, ModuleParameters) {
  Instance a;
  EXPECT_EQ(a.GetParameter("LogTitle").AsText(), "DL-T645/2007");
  EXPECT_EQ(a.GetParameter("EventsSupported").AsText(), "PORT-OPEN;PORT-CLOSE");
  EXPECT_EQ(a.GetParameter("ModuleType").AsInt(), 3);
  EXPECT_EQ(a.GetParameter("DisplayFullVersion").AsText(), "5.0.0.1");
  EXPECT_EQ(a.GetParameter("ModulePluginHandle").AsInt(), static_cast<int64_t>(a.Handle()));
  EXPECT_NE(a.GetParameter("ModuleName").AsText().find("dlt645"), std::string::npos);

  EXPECT_TRUE(a.SetParameter("Custom:Port", Value::Text("COM3")));
  EXPECT_TRUE(a.SetParameter("Custom_Baud", Value::Int(9600)));
  EXPECT_EQ(a.GetParameter("Custom:COUNT").AsInt(), 2);
  EXPECT_EQ(a.GetParameter("Custom_1").AsInt(), 9600);
  EXPECT_EQ(a.GetParameter("CustomPort").AsText(), "COM3");
  EXPECT_FALSE(a.SetParameter("NoSuchParameter", Value::Int(1)));

  Call items(a.Handle(), "SET-ITEMS");
  items.Set("ITEMS", Value::Text("Voltage|VOLTAGE_A|Float|V\r\nCurrent|CURRENT_A|Float|A"));
  EXPECT_EQ(a.Command(items), 0);
  EXPECT_EQ(a.GetParameter("ParserItemName1").AsText(), "CURRENT_A");
  EXPECT_EQ(a.GetParameter("ParserItemType0").AsInt(), 5);
  // Asked for its items, the protocol module announces its own.
  Call get(a.Handle(), "ITEMS");
  get.Set("RESULT", Value());
  EXPECT_EQ(a.Command(get), 0);
  EXPECT_EQ(get.Result().AsText().rfind("Full data packet|FULL_DATA_PACKET|String|\r\n", 0), 0u);
  EXPECT_NE(get.Result().AsText().find("Voltage A|VOLTAGE_A|Float|0\r\n"), std::string::npos);
}

TEST_F(E2e, TheLogFoldsRepeatsAndIsTakenOnce) {
  Instance a;
  // A "RESULT" that is no number fails the command and is logged.
  auto bad_state = [&] {
    Call c(a.Handle(), "SET-STATE");
    c.Set("RESULT", Value::Text("on"));
    return a.Command(c);
  };
  EXPECT_EQ(bad_state(), -3);
  EXPECT_EQ(bad_state(), -3);
  EXPECT_EQ(bad_state(), -3);
  EXPECT_EQ(a.Command("LOAD"), 0);
  Call bad_load(a.Handle(), "LOAD");
  a.Command("UNLOAD");
  bad_load.Set("HANDLE", Value::Text("not a handle"));
  EXPECT_EQ(a.Command(bad_load), -3);

  const std::string line =
      "\x01"
      "DL-T645/2007. {SETSTATE} 'on' is not a valid integer value";
  const std::string expected =
      line + " x3\r\n" +
      "\x01"
      "DL-T645/2007. {LOAD} 'not a handle' is not a valid integer value\r\n";
  // Too small: the length is told and the log kept. Big enough: handed over.
  Call small(a.Handle());
  std::string buffer(expected.size() - 1, '\0');
  small.rec.Input.Size = static_cast<uint32_t>(buffer.size());
  small.rec.Input.Data = reinterpret_cast<uintptr_t>(buffer.data());
  EXPECT_EQ(Fns().GetLogEx(&small.rec), 0);
  EXPECT_EQ(+small.rec.Output.Data, expected.size());
  small.rec.Input.Size = 4096;
  small.rec.Input.Data = 0;  // room but no address: kept as well
  EXPECT_EQ(Fns().GetLogEx(&small.rec), 0);
  EXPECT_EQ(a.TakeLog(), expected);
  EXPECT_EQ(a.TakeLog(), "");

  EXPECT_EQ(bad_state(), -3);
  Call discard(a.Handle());
  EXPECT_EQ(Fns().GetLogEx(&discard.rec), 0);  // a zero-size buffer discards
  EXPECT_EQ(+discard.rec.Output.Data, line.size() + 2);
  EXPECT_EQ(a.TakeLog(), "");
}

TEST_F(E2e, BadInputIsAnsweredNotFollowed) {
  Instance a;
  EXPECT_EQ(Fns().CreatePluginInstance(nullptr), -1);
  EXPECT_EQ(Fns().FreePluginInstance(nullptr), -1);
  EXPECT_FALSE(Fns().GetModuleInfo(nullptr, nullptr, nullptr));
  Fns().GetOptionsDialog(nullptr);
  Fns().ShowOptionsDialog(nullptr);
  EXPECT_EQ(Fns().ProcessData(nullptr), -1);
  EXPECT_EQ(Fns().ExecutePluginCommand(nullptr), -1);
  EXPECT_EQ(Fns().GetLogEx(nullptr), 0);

  // Records of the wrong size, as a host of another layout would pass them.
  Call shorter(a.Handle(), "LOAD");
  shorter.rec.Size = 50;
  EXPECT_EQ(Fns().ExecutePluginCommand(&shorter.rec), -1);
  EXPECT_EQ(Fns().ProcessData(&shorter.rec), -1);
  shorter.rec.Size = host::kCallRecSize + 4;
  EXPECT_EQ(Fns().ExecutePluginCommand(&shorter.rec), -1);

  // An unknown handle, including the address of something else.
  Call unknown(reinterpret_cast<uintptr_t>(&shorter), "LOAD");
  EXPECT_EQ(Fns().ExecutePluginCommand(&unknown.rec), -1);
  EXPECT_EQ(Fns().ProcessData(&unknown.rec), -1);

  // A parameter pointer whose variable holds no list: no parameters at all.
  Call empty_params(a.Handle());
  void* no_list = nullptr;
  empty_params.rec.Params = reinterpret_cast<uintptr_t>(&no_list);
  EXPECT_EQ(Fns().ExecutePluginCommand(&empty_params.rec), -1);

  // "COMMAND" of the wrong type.
  Call number(a.Handle());
  number.Set("COMMAND", Value::Int(1));
  EXPECT_EQ(Fns().ExecutePluginCommand(&number.rec), -1);

  // A kind-1 descriptor that holds no list is left alone (and data before
  // "LOAD" is refused).
  int32_t raw = 7;
  Call data(a.Handle());
  data.rec.Roles = 1;
  data.rec.Output = host::DataDesc{0, 4, 1, reinterpret_cast<uintptr_t>(&raw)};
  EXPECT_EQ(Fns().ProcessData(&data.rec), -1);
  EXPECT_EQ(+data.rec.Output.Kind, 1);
  EXPECT_EQ(+data.rec.Output.Data, reinterpret_cast<uintptr_t>(&raw));

  // Oversized texts.
  const std::string huge(1 << 20, 'X');
  EXPECT_EQ(a.Command(huge), -2);
  EXPECT_TRUE(a.SetParameter("LogTitle", Value::Text(huge)));
  EXPECT_EQ(a.GetParameter("LogTitle").AsText().size(), huge.size());
  Call bad(a.Handle(), "SET-STATE");
  bad.Set("RESULT", Value::Text("x"));
  EXPECT_EQ(a.Command(bad), -3);
  Call tiny(a.Handle());
  char one = 0;
  tiny.rec.Input.Size = 1;
  tiny.rec.Input.Data = reinterpret_cast<uintptr_t>(&one);
  EXPECT_EQ(Fns().GetLogEx(&tiny.rec), 0);
  EXPECT_GT(+tiny.rec.Output.Data, huge.size());
  EXPECT_GT(a.TakeLog().size(), huge.size());
}

TEST_F(E2e, PumpingMessagesWhereTheHostHasNoLoop) {
  if (!Fns().PumpPluginMessages) GTEST_SKIP() << "the host's own message loop pumps";
  Instance a;
  EXPECT_EQ(a.Command("LOAD"), 0);
  EXPECT_GE(Fns().PumpPluginMessages(0), 0);
}

}  // namespace
