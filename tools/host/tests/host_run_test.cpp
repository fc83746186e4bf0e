#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "host_app.h"
#include "host_test_support.h"
#include "platform/module.h"

namespace {

using namespace host;
using namespace host_test;
using asio::ip::tcp;

std::string TempName(const char* stem) {
  std::random_device rd;
  return (std::filesystem::temp_directory_path() / (std::string(stem) + "-" + std::to_string(rd())))
      .string();
}

bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Reads until `want` bytes arrived or the peer closed.
std::string ReadSome(tcp::socket& s, size_t want) {
  std::string got;
  std::array<char, 256> buf{};
  asio::error_code ec;
  while (got.size() < want) {
    const size_t n = s.read_some(asio::buffer(buf), ec);
    if (ec) break;
    got.append(buf.data(), n);
  }
  return got;
}

class HostRun : public ::testing::Test {
 protected:
  void SetUp() override {
    records_path_ = TempName("host-records");
    log_path_ = TempName("host-log");
    records_ = std::fopen(records_path_.c_str(), "wb");
    log_ = std::fopen(log_path_.c_str(), "wb");
    ASSERT_TRUE(records_ && log_);
  }
  void TearDown() override {
    if (records_) std::fclose(records_);
    if (log_) std::fclose(log_);
    std::error_code ec;
    std::filesystem::remove(records_path_, ec);
    std::filesystem::remove(log_path_, ec);
  }
  std::string Records() {
    std::fflush(records_);
    return Slurp(records_path_);
  }
  std::string LogText() {
    std::fflush(log_);
    return Slurp(log_path_);
  }

  std::string records_path_;
  std::string log_path_;
  std::FILE* records_ = nullptr;
  std::FILE* log_ = nullptr;
};

TEST_F(HostRun, DrivesAPluginThroughItsExports) {
  asio::io_context io;
  tcp::acceptor converter(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  const uint16_t listen_port = FreePort();
  HostOptions o;
  std::string e;
  const std::string dtu_text = "listen://127.0.0.1:" + std::to_string(listen_port);
  const std::string tcp_text =
      "tcp://127.0.0.1:" + std::to_string(converter.local_endpoint().port());
  ASSERT_TRUE(
      ParseHostOptions({"--settings", "x.ini", "--module", "1997", dtu_text, tcp_text}, &o, &e))
      << e;
  Host app(o, records_, log_);
  int code = -1;
  std::thread runner([&] { code = app.Run(Beside(HOST_STUB_FILE), "/cfg/x.ini"); });

  // The converter port connects out; the DTU connects in.
  tcp::socket line(io);
  converter.accept(line);
  tcp::socket dtu(io);
  ASSERT_TRUE(WaitFor([&] {
    asio::error_code ec;
    dtu.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), listen_port), ec);
    if (ec) dtu = tcp::socket(io);
    return !ec;
  }));

  asio::write(dtu, asio::buffer(std::string("hello")));
  EXPECT_EQ(ReadSome(dtu, 5), "hello");
  asio::write(line, asio::buffer(std::string("ping")));
  EXPECT_EQ(ReadSome(line, 4), "ping");
  asio::write(dtu, asio::buffer(std::string("LIST")));
  ASSERT_TRUE(WaitFor([&] { return Records().find("kind 9") != std::string::npos; }));
  asio::write(dtu, asio::buffer(std::string("LOG")));
  EXPECT_EQ(ReadSome(dtu, 3), "LOG");
  // The plug-in closes the connection: the peer sees its end.
  asio::write(dtu, asio::buffer(std::string("CLOSE")));
  EXPECT_EQ(ReadSome(dtu, 1), "");

  app.RequestStop();
  runner.join();
  EXPECT_EQ(code, kExitOk);

  EXPECT_EQ(Records(),
            "{\"ECHO\":\"hello\",\"CLIENT\":1,\"SENT\":5}\n"
            "{\"ECHO\":\"ping\",\"CLIENT\":0,\"SENT\":4}\n"
            "{\"ECHO\":\"LIST\",\"VIA\":\"kind 9\"}\n"
            "{\"ECHO\":\"LOG\",\"CLIENT\":1,\"SENT\":3}\n");
  const std::string log = LogText();
  const auto has = [&log](const std::string& s) { return log.find(s) != std::string::npos; };
  EXPECT_TRUE(has("[plug-in] LOAD ini=/cfg/x.ini prefix=dlt645-host config-id=" +
                  std::to_string(ConfigIdOf("DL-T645/1997")) + " send=found"))
      << log;
  EXPECT_TRUE(has("SET-STATE roles=3 result=1 sources=1;" + dtu_text + ";" + dtu_text + "||2;" +
                  tcp_text + ";" + tcp_text + "||"))
      << log;
  EXPECT_TRUE(has("EVENT type=PORT-OPEN port=" + tcp_text)) << log;
  EXPECT_TRUE(has("OPEN 1 127.0.0.1:")) << log;
  EXPECT_TRUE(has("CLOSE 1 127.0.0.1:")) << log;
  EXPECT_TRUE(has("[plug-in] error: {PROCESS} asked to log")) << log;
  EXPECT_TRUE(has("EVENT type=PORT-CLOSE port=" + tcp_text)) << log;
  EXPECT_LT(log.find("PORT-CLOSE"), log.find("UNLOAD")) << log;
}

TEST_F(HostRun, ALibraryThatIsNoPluginEndsTheRun) {
  HostOptions o;
  std::string e;
  ASSERT_TRUE(ParseHostOptions({"--settings", "x.ini", "tcp://127.0.0.1:9"}, &o, &e)) << e;
  Host app(o, records_, log_);
  // The test program is no plug-in (a system may refuse to load it at all).
  EXPECT_EQ(app.Run(platform::ProgramFileName(), "x.ini"), kExitFailure);
  const std::string log = LogText();
  EXPECT_TRUE(log.find("is no DL/T 645 plug-in: it does not export CreatePluginInstance") !=
                  std::string::npos ||
              log.find("cannot load the plug-in") != std::string::npos)
      << log;
  Host again(o, records_, log_);
  EXPECT_EQ(again.Run(Beside("missing-plugin.so"), "x.ini"), kExitFailure);
  EXPECT_NE(LogText().find("cannot load the plug-in"), std::string::npos);
}

}  // namespace
