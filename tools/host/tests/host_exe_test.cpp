#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <asio.hpp>

#include "host_app.h"
#include "host_test_support.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/process.h"

namespace {

using namespace host;
using namespace host_test;

class HostExe : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("host-exe-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    Write("good.xml",
          "<DL_T645_2007_QUERY><Request><Enabled>1</Enabled><Device>1</Device>"
          "<MethodPoll>1</MethodPoll><Response><Item><Function>02010100</Function></Item>"
          "</Response></Request></DL_T645_2007_QUERY>");
    Write("bad.xml", "<DL_T645_2007_QUERY><Request></DL_T645_2007_QUERY>");
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  void Write(const char* name, const std::string& text) {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string Read(const char* name) const {
    std::ifstream f(Path(name), std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }
  int Run(std::vector<std::string> args) {
    return platform::RunProgram(Beside(HOST_EXE_FILE), args);
  }
  std::filesystem::path dir_;
};

TEST_F(HostExe, BadCommandLinesAndConfigurationsExitWithTwo) {
  EXPECT_EQ(Run({"--frobnicate"}), kExitUsage);
  EXPECT_EQ(Run({"--config", Path("good.xml")}), kExitUsage);
  EXPECT_EQ(Run({"--config", Path("bad.xml"), "tcp://127.0.0.1:9"}), kExitUsage);
  EXPECT_EQ(Run({"--config", Path("none.xml"), "tcp://127.0.0.1:9"}), kExitUsage);
  EXPECT_EQ(Run({"--settings", Path("none.ini"), "tcp://127.0.0.1:9"}), kExitUsage);
  EXPECT_EQ(Run({"--help"}), kExitOk);
}

TEST_F(HostExe, CheckExitsByWhatItFindsAndARunRefusesTheSameErrors) {
  for (const char* name : {"demo.xml", "serial-meter.xml", "dtu-server.xml"})
    EXPECT_EQ(Run({"check", "--strict", Beside("examples") + "/" + name}), kExitOk) << name;
  Write("quiet.xml",
        "<DL_T645_2007_QUERY><Request><Device>1</Device><Response><Item><Function>02010100"
        "</Function></Item></Response></Request></DL_T645_2007_QUERY>");
  Write("wrong.xml",
        "<DL_T645_2007_QUERY><Request caption=\"Hourly\"><Enabled>1</Enabled><MethodCron>1"
        "</MethodCron><CronTime>0 * * * *</CronTime><Response><Item><Function>02010100"
        "</Function></Item></Response></Request></DL_T645_2007_QUERY>");
  EXPECT_EQ(Run({"check", Path("quiet.xml")}), kExitOk);
  EXPECT_EQ(Run({"check", "--strict", Path("quiet.xml")}), kExitFailure);
  EXPECT_EQ(Run({"check", Path("quiet.xml"), Path("wrong.xml")}), kExitUsage);
  EXPECT_EQ(Run({"check", Path("bad.xml")}), kExitUsage);
  EXPECT_EQ(Run({"check"}), kExitUsage);

  EXPECT_EQ(Run({"--config", Path("wrong.xml"), "--log", Path("w.log"), "--library",
                 Beside(HOST_STUB_FILE), "--duration", "0.2", "listen://127.0.0.1:0"}),
            kExitUsage);
  // A stored configuration gets the same checks as a file.
  Write("latin.ini",
        "[dlt645-host.Common]\nParser config=<DL_T645_2007_QUERY>\xE9"
        "</DL_T645_2007_QUERY>\n");
  EXPECT_EQ(Run({"--settings", Path("latin.ini"), "--library", Beside(HOST_STUB_FILE), "--duration",
                 "0.2", "listen://127.0.0.1:0"}),
            kExitUsage);
  EXPECT_EQ(Run({"--config", Path("good.xml"), "--event", "E", "--event-every", "0.01",
                 "listen://127.0.0.1:0"}),
            kExitUsage);
}

TEST_F(HostExe, PortsAndLibrariesThatFailExitWithOne) {
  EXPECT_EQ(Run({"--config", Path("good.xml"), "--library", Path("missing.dll"), "--log",
                 Path("a.log"), "tcp://127.0.0.1:9"}),
            kExitFailure);
  EXPECT_NE(Read("a.log").find("cannot load the plug-in"), std::string::npos);

  EXPECT_EQ(Run({"--config", Path("good.xml"), "--library", Beside(HOST_STUB_FILE), "--log",
                 Path("b.log"), "serial:/nonexistent/ttyQ9"}),
            kExitFailure);
  EXPECT_NE(Read("b.log").find("cannot open"), std::string::npos) << Read("b.log");

  const uint16_t closed = FreePort();
  EXPECT_EQ(
      Run({"--config", Path("good.xml"), "--library", Beside(HOST_STUB_FILE), "--log",
           Path("c.log"), "--connect-attempts", "2", "tcp://127.0.0.1:" + std::to_string(closed)}),
      kExitFailure);
  const std::string log = Read("c.log");
  EXPECT_NE(log.find("next attempt in 1 s"), std::string::npos) << log;
  EXPECT_NE(log.find("(2 attempts)"), std::string::npos) << log;
  // The plug-in was still unloaded properly.
  EXPECT_NE(log.find("[plug-in] UNLOAD"), std::string::npos) << log;
}

TEST_F(HostExe, ARunWritesTheSettingsTheConfigurationBecame) {
  // Records and log are appended to what earlier runs left.
  Write("d.jsonl", "{\"EARLIER\":1}\n");
  Write("d.log", "earlier\n");
  EXPECT_EQ(Run({"--config", Path("good.xml"), "--settings", Path("s.ini"), "--section", "P",
                 "--library", Beside(HOST_STUB_FILE), "--log", Path("d.log"), "--output",
                 Path("d.jsonl"), "--duration", "0.3", "listen://127.0.0.1:0"}),
            kExitOk);
  EXPECT_NE(Read("s.ini").find("[P.Common]"), std::string::npos);
  EXPECT_NE(Read("s.ini").find("Parser config=<DL_T645_2007_QUERY>"), std::string::npos);
  const std::string log = Read("d.log");
  EXPECT_NE(log.find("listening on 127.0.0.1:"), std::string::npos) << log;
  EXPECT_NE(log.find("ini=" + std::filesystem::absolute(Path("s.ini")).string()), std::string::npos)
      << log;
  EXPECT_EQ(Read("d.jsonl"), "{\"EARLIER\":1}\n");
  EXPECT_EQ(log.rfind("earlier\n", 0), 0u) << log;
  // The stored configuration serves a second run as it is.
  EXPECT_EQ(Run({"--settings", Path("s.ini"), "--section", "P", "--library", Beside(HOST_STUB_FILE),
                 "--log", Path("e.log"), "--duration", "0.2", "listen://127.0.0.1:0"}),
            kExitOk);
}

// A run with a settings file of its own leaves nothing behind: neither that
// file nor the settings store's lock; its log lines say when, with the zone.
TEST_F(HostExe, ARunLeavesNothingInTheTempFolderAndDatesItsLog) {
  std::filesystem::create_directories(dir_ / "tmp");
  std::filesystem::create_directories(dir_ / "run");
  struct Env {
    const char* name;
    std::string before;
    bool had;
  };
  std::vector<Env> saved;
  for (const char* name : {"TMPDIR", "TMP", "TEMP", "XDG_RUNTIME_DIR"}) {
    Env e{name, {}, false};
    e.had = platform::GetEnvironmentValue(name, &e.before);
    saved.push_back(e);
    platform::SetEnvironmentValue(name, (dir_ / (name[0] == 'X' ? "run" : "tmp")).string());
  }
  // The real plug-in: it takes the settings store's lock.
  const int code = Run({"--config", Path("good.xml"), "--log", Path("f.log"), "--duration", "0.3",
                        "listen://127.0.0.1:0"});
  for (const Env& e : saved)
    e.had ? platform::SetEnvironmentValue(e.name, e.before)
          : platform::RemoveEnvironmentValue(e.name);
  EXPECT_EQ(code, kExitOk);
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "run"));
  // "2024-05-01T12:00:00.107+08:00 ..."
  const std::string log = Read("f.log");
  ASSERT_GT(log.size(), 30u);
  EXPECT_EQ(log[10], 'T') << log;
  EXPECT_EQ(log[19], '.') << log;
  EXPECT_TRUE(log[23] == '+' || log[23] == '-') << log;
  EXPECT_EQ(log[26], ':') << log;
  EXPECT_EQ(log[29], ' ') << log;
}

}  // namespace
