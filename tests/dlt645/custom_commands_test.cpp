// The custom commands: their frames against the worked examples, and how
// they share a client with its queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "client_test_support.h"
#include "dlt645/custom_commands.h"
#include "platform/datetime.h"
#include "plugin/qon_plugin_custom_cmd_list.h"

namespace {

using namespace client_test;
using dlt645::testing::HexText;

TEST(CustomFrames, EqualTheWorkedExamples) {
  std::array<uint8_t, dlt645::kTimeSyncFrameLength> sync{};
  dlt645::BuildTimeSyncFrame(2017, 6, 5, 10, 22, 51, sync);
  EXPECT_EQ(HexText(sync.data(), sync.size()),
            "68 99 99 99 99 99 99 68 08 06 84 55 43 38 39 4A 4B 16");
  dlt645::BuildTimeSyncFrame(2024, 5, 1, 12, 30, 45, sync);
  EXPECT_EQ(HexText(sync.data(), sync.size()),
            "68 99 99 99 99 99 99 68 08 06 78 63 45 34 38 57 57 16");

  std::array<uint8_t, dlt645::kReadAddressFrameLength> read{};
  dlt645::BuildReadAddressFrame(read);
  EXPECT_EQ(HexText(read.data(), read.size()), "68 AA AA AA AA AA AA 68 13 00 DF 16");

  Bytes answer = Hex("68 12 90 78 56 34 12 68 93 06 45 C3 AB 89 67 45 07 16");
  std::string address;
  ASSERT_TRUE(dlt645::ReadAddressAnswer({answer.data(), answer.size(), 0}, &address));
  EXPECT_EQ(address, "123456789012");
  // The two copies of the address must agree.
  answer[10] = 0x46;
  EXPECT_FALSE(dlt645::ReadAddressAnswer({answer.data(), answer.size(), 0}, &address));
}

TEST(CustomFrames, TheCommandsAreListed) {
  TqonPluginCustomCmdList list;
  AddCustomCommands(list);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(0).Name, "SYNC-TIME");
  EXPECT_EQ(list.Items(1).Name, "READ-ADDRESS");
  EXPECT_EQ(list.Items(2).Name, "READ-NOW");
  EXPECT_TRUE(IsCustomCommand("READ-NOW"));
  EXPECT_FALSE(IsCustomCommand("READ"));
}

class CustomCommand : public ClientFixture {
 protected:
  CustomCommand() {
    module.WriteResult = [this](const std::string& hex) {
      last_write = hex;
      ++writes;
      return refuse ? refuse.load() : static_cast<int32_t>(hex.size() / 3 + 1);
    };
  }
  ~CustomCommand() override {
    if (worker.joinable()) worker.join();
  }
  // Runs the command in a thread of its own, as a host does while its
  // data keeps arriving in another.
  void Start(const std::string& command, std::map<std::string, std::string> params) {
    worker = std::thread([this, command, params] {
      answer = RunCustomCommand(&module, {source.get()}, true, command,
                                [&params](const std::string& name, std::string* value) {
                                  auto it = params.find(name);
                                  if (it == params.end()) return false;
                                  *value = it->second;
                                  return true;
                                });
      finished = true;
    });
  }
  TCommandAnswer Run(const std::string& command, std::map<std::string, std::string> params) {
    Start(command, std::move(params));
    worker.join();
    return answer;
  }
  // Real time passes while the command thread works; the virtual clock
  // moves only when asked.
  bool WaitFor(const std::function<bool()>& done, uint64_t advance_ms = 0) {
    for (int i = 0; i < 2000 && !done(); ++i) {
      if (advance_ms) RunFor(advance_ms, advance_ms);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
  }
  std::string LastWrite() {
    std::lock_guard<std::mutex> guard(last_lock);
    return last_write;
  }

  std::thread worker;
  TCommandAnswer answer;
  std::atomic<bool> finished{false};
  std::atomic<int> writes{0};
  std::atomic<int32_t> refuse{0};
  std::mutex last_lock;
  std::string last_write;
};

TEST_F(CustomCommand, ReadNowWaitsForTheAwaitedAnswerThenAnswersWithTheValues) {
  Load({RequestSpec{}});
  PortEvent(kEventPortOpened);
  // The queue's own request goes out and is awaited.
  ASSERT_TRUE(WaitFor([&] { return writes >= 2; }, 10));
  Start("READ-NOW", {{"DEVICE", "2"}, {"FUNCTION", "02010200"}, {"TIMEOUT", "800"}});
  // The command has looked at the busy queue a few times, and waited.
  ASSERT_TRUE(WaitFor([&] { return Client()->CustomCommandWaits >= 3; }));
  EXPECT_EQ(writes, 2) << "sent while an answer was awaited";
  Feed(Answer("000000000001", 0x02010100, {0x01, 0x22}));
  ASSERT_TRUE(WaitFor([&] { return writes >= 4; }));
  EXPECT_EQ(module.Writes[3].Bytes.substr(0, 20), "68 02 00 00 00 00 00");
  Feed(Answer("000000000002", 0x02010200, {0x15, 0x23}));
  worker.join();
  EXPECT_EQ(answer.Code, 0) << answer.Result;
  EXPECT_NE(answer.Result.find("DEVICE_ID=000000000002\r\n"), std::string::npos) << answer.Result;
  EXPECT_NE(answer.Result.find("=231.5\r\n"), std::string::npos) << answer.Result;
  // The queue's record came out as before, the command's answer did not.
  ASSERT_EQ(module.Records.size(), 1u);
  EXPECT_EQ(module.Records[0].Get("DEVICE_ID"), "000000000001");
}

TEST_F(CustomCommand, ReadNowTimesOutAndErrorAnswersAreItsText) {
  Feed({});
  Start("READ-NOW", {{"DEVICE", "1"}, {"FUNCTION", "02010100"}, {"TIMEOUT", "300"}});
  ASSERT_TRUE(WaitFor([&] { return finished.load(); }, 50));
  worker.join();
  EXPECT_EQ(answer.Code, -1);
  EXPECT_NE(answer.Result.find("Request timeout"), std::string::npos) << answer.Result;

  Start("READ-NOW", {{"DEVICE", "1"}, {"FUNCTION", "02010100"}});
  ASSERT_TRUE(WaitFor([&] { return writes >= 4; }));
  Feed(dlt645::testing::MakeFrame(dlt645::AddressFromText("000000000001"), 0xD1, {0x02}));
  worker.join();
  EXPECT_EQ(answer.Code, -1);
  EXPECT_NE(answer.Result.find("000000000001"), std::string::npos) << answer.Result;
}

TEST_F(CustomCommand, BadParametersAreRefusedWithAMessage) {
  Feed({});
  const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
      {{{"FUNCTION", "02010100"}}, "DEVICE"},
      {{{"DEVICE", "1"}}, "FUNCTION"},
      {{{"DEVICE", "12AB"}, {"FUNCTION", "02010100"}}, "12AB"},
      {{{"DEVICE", "1"}, {"FUNCTION", "0201FF99"}}, "0201FF99"},
      {{{"DEVICE", "1"}, {"FUNCTION", "02010100"}, {"RATE", "x"}}, "RATE"},
      {{{"DEVICE", "1"}, {"FUNCTION", "02010100"}, {"TIMEOUT", "0"}}, "TIMEOUT"},
      {{{"DEVICE", "1"}, {"FUNCTION", "02010100"}, {"DATA-SOURCE", "9"}}, "no data source 9"},
  };
  for (const auto& [params, named] : cases) {
    const TCommandAnswer a = Run("READ-NOW", params);
    EXPECT_EQ(a.Code, -1) << named;
    EXPECT_NE(a.Result.find(named), std::string::npos) << a.Result;
  }
  EXPECT_EQ(writes, 0);
  const TCommandAnswer off =
      RunCustomCommand(&module, {source.get()}, false, "SYNC-TIME",
                       [](const std::string&, std::string*) { return false; });
  EXPECT_EQ(off.Code, -1);
}

TEST_F(CustomCommand, SyncTimeBroadcastsTheLocalTimeUnlessListenOnlyOrClosed) {
  int64_t seconds = 0;
  ASSERT_TRUE(platform::TryEncodeDateTime(2024, 5, 1, 12, 30, 45, &seconds));
  clock.SetLocalNow(static_cast<double>(seconds) / 86400.0);
  Feed({});
  const TCommandAnswer a = Run("SYNC-TIME", {});
  EXPECT_EQ(a.Code, 0) << a.Result;
  EXPECT_EQ(a.Result, "2024-05-01 12:30:45");
  EXPECT_EQ(LastWrite(), "68 99 99 99 99 99 99 68 08 06 78 63 45 34 38 57 57 16");
  EXPECT_TRUE(module.Logged("2 SYNC-TIME: 2024-05-01 12:30:45 sent on data source 1"))
      << module.LogLines.back();

  refuse = -12;
  const TCommandAnswer closed = Run("SYNC-TIME", {});
  EXPECT_EQ(closed.Code, -12);
  EXPECT_NE(closed.Result.find("not open"), std::string::npos);
  refuse = 0;

  RequestSpec quiet;
  quiet.Enabled = false;
  Load({quiet});
  const TCommandAnswer listen = Run("SYNC-TIME", {{"DATA-SOURCE", "1"}});
  EXPECT_EQ(listen.Code, -1);
  EXPECT_NE(listen.Result.find("listen-only"), std::string::npos);
}

TEST_F(CustomCommand, ReadAddressAnswersAndTeachesTheAddress) {
  Feed({});
  Start("READ-ADDRESS", {});
  ASSERT_TRUE(WaitFor([&] { return writes >= 2; }));
  EXPECT_EQ(LastWrite(), "68 AA AA AA AA AA AA 68 13 00 DF 16");
  Feed(Hex("68 12 90 78 56 34 12 68 93 06 45 C3 AB 89 67 45 07 16"));
  worker.join();
  EXPECT_EQ(answer.Code, 0) << answer.Result;
  EXPECT_EQ(answer.Result, "123456789012");
  EXPECT_TRUE(Client()->HasLearnedAddress);
  EXPECT_EQ(Client()->LearnedAddress, dlt645::AddressFromText("123456789012"));
}

}  // namespace
