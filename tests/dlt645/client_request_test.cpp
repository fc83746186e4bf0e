// The client's side of a request: the frames it writes, the wake-up
// preamble, the addresses of wildcard and broadcast entries, what a refused
// write does to the queue, and time-outs.
#include <gtest/gtest.h>

#include <stdexcept>

#include "client_test_support.h"
#include "parser/queue_controller.h"

namespace {

using namespace client_test;

constexpr char kPreamble[] = "FE FE FE FE";

class ClientRequest : public ClientFixture {
 protected:
  // A client with an empty queue, made by data (so no idle sweep removes
  // it): requests are sent by hand.
  TDlt645ParserClient& Open() {
    Feed({});
    return *Client();
  }
  int32_t Send(TDlt645ParserClient& client, const RequestSpec& shape) {
    auto item = MakeRequest(shape);
    return client.SendRequest(*item);
  }
  // Advances the clock until the host has seen `count` writes.
  void RunUntilWrites(size_t count, uint64_t limit = 100000) {
    for (uint64_t t = 0; module.Writes.size() < count && t < limit; t += 10)
      RunFor(10);
    ASSERT_GE(module.Writes.size(), count);
  }
  size_t TimeoutLines() const {
    size_t n = 0;
    for (const std::string& line : module.LogLines)
      n += line.find("Request timeout") != std::string::npos ? 1 : 0;
    return n;
  }
};

TEST_F(ClientRequest, FramesOfTheThreeLayoutsAfterOnePreamble) {
  TDlt645ParserClient& client = Open();
  EXPECT_EQ(Send(client, {.Code = 0x02010100}), 16);
  EXPECT_EQ(Send(client, {.Code = 0x8000B611}), 14);
  EXPECT_EQ(Send(client, {.Code = 0x06000002}), 17);
  EXPECT_EQ(Send(client, {.Code = 0x00000000}), 16);
  EXPECT_EQ(module.WrittenBytes(),
            (std::vector<std::string>{kPreamble, "68 01 00 00 00 00 00 68 11 04 33 34 34 35 B6 16",
                                      "68 01 00 00 00 00 00 68 01 02 44 E9 01 16",
                                      "68 01 00 00 00 00 00 68 11 05 35 33 33 39 34 EF 16",
                                      "68 01 00 00 00 00 00 68 11 04 33 33 33 33 B2 16"}));
}

TEST_F(ClientRequest, PreambleBeforeANewTargetAndAfterAMinute) {
  TDlt645ParserClient& client = Open();
  Send(client, {.Device = "1"});
  RunFor(59000);
  Send(client, {.Device = "1"});  // still awake
  Send(client, {.Device = "2"});
  Send(client, {.Device = "1"});
  RunFor(60000);
  Send(client, {.Device = "1"});
  std::vector<std::string> preambles;
  for (const std::string& w : module.WrittenBytes())
    preambles.push_back(w == kPreamble ? "P" : w.substr(3, 2));
  EXPECT_EQ(preambles,
            (std::vector<std::string>{"P", "01", "01", "P", "02", "P", "01", "P", "01"}));
}

TEST_F(ClientRequest, WildcardAndBroadcastBeforeAndAfterAnAddressIsLearned) {
  TDlt645ParserClient& client = Open();
  Send(client, {.Device = "*"});
  Send(client, {.Device = "999999999999"});
  // The echo of our own wildcard request teaches nothing.
  Feed(Answer("AAAAAAAAAAAA", 0x02010100, {}, false, 0x11));
  EXPECT_FALSE(client.HasLearnedAddress);
  // A meter speaking on its own is answered and becomes the target.
  const Bytes unsolicited =
      dlt645::testing::MakeFrame(dlt645::AddressFromText("112233445566"), 0x9F, {});
  Feed(unsolicited);
  Send(client, {.Device = "*"});
  Send(client, {.Device = "999999999999"});
  Send(client, {.Device = "AAAAAAAAAAAA"});
  std::vector<std::string> frames;
  for (const std::string& w : module.WrittenBytes())
    if (w != kPreamble) frames.push_back(w.substr(0, 23));
  EXPECT_EQ(frames, (std::vector<std::string>{"68 AA AA AA AA AA AA 68", "68 99 99 99 99 99 99 68",
                                              "68 66 55 44 33 22 11 68",  // the 1F reply
                                              "68 66 55 44 33 22 11 68", "68 66 55 44 33 22 11 68",
                                              "68 66 55 44 33 22 11 68"}));
  EXPECT_EQ(module.WrittenBytes()[4], "68 66 55 44 33 22 11 68 1F 00 54 16");
  EXPECT_TRUE(module.Records.empty());
}

TEST_F(ClientRequest, PortNotOpenHoldsTheQueueUntilThePortOpens) {
  module.WriteResult = [](const std::string&) { return -12; };
  Load({{.Method = kMethodPoll}});
  PortEvent(kEventPortOpened);
  RunFor(30000);
  EXPECT_EQ(module.Writes.size(), 1u);  // the preamble, refused
  // The port event made the client a connection of its own: it alone is
  // held, not the other connections of the port.
  EXPECT_TRUE(Client()->HoldFlag);
  EXPECT_FALSE(source->PortNotReady);
  EXPECT_EQ(TimeoutLines(), 0u);

  // What the module does on "PORT-OPEN".
  module.WriteResult = nullptr;
  EXPECT_TRUE(source->ReleaseHolds());
  source->UpdateClientQueues(true, false);
  RunUntilWrites(3);
  EXPECT_EQ(module.Writes[2].Bytes, "68 01 00 00 00 00 00 68 11 04 33 34 34 35 B6 16");
}

TEST_F(ClientRequest, RefusedWritesAreNotSentAndWaitOneOrTenSeconds) {
  module.WriteResult = [](const std::string&) { return -1; };
  Feed({});  // a client no port event made active: nothing holds its queue
  Load({{.Method = kMethodPoll, .PollInterval = 100}});
  RunFor(25000, 5);
  std::vector<uint64_t> gaps;
  for (size_t i = 1; i < module.Writes.size(); ++i)
    gaps.push_back((module.Writes[i].Tick - module.Writes[i - 1].Tick + 50) / 1000);
  // Three attempts a second apart, ten seconds after the last, and so on.
  ASSERT_GE(gaps.size(), 4u);
  EXPECT_EQ(std::vector<uint64_t>(gaps.begin(), gaps.begin() + 4),
            (std::vector<uint64_t>{1, 1, 10, 1}));
  EXPECT_FALSE(source->PortNotReady);  // only -12 says the port is not open
  EXPECT_EQ(TimeoutLines(), 0u);
  EXPECT_EQ(Client()->Queue->LockState().Pending(), nullptr);
}

TEST_F(ClientRequest, OnceRequestRefusedByAClosedPortIsSentWhenItOpens) {
  module.WriteResult = [](const std::string&) { return -12; };
  Feed({});  // a client no port event made active: nothing holds its queue
  Load({{.Method = kMethodOnce}});
  RunFor(60000);
  EXPECT_GT(module.Writes.size(), 3u);  // still trying after its three attempts

  // What the host and the module do when the port opens.
  module.WriteResult = nullptr;
  const size_t before = module.Writes.size();
  source->PortNotReady = false;
  PortEvent(kEventPortOpened);
  source->UpdateClientQueues(true, false);
  RunUntilWrites(before + 2);
  EXPECT_EQ(module.Writes.back().Bytes, "68 01 00 00 00 00 00 68 11 04 33 34 34 35 B6 16");
  Feed(Answer("000000000001", 0x02010100, {0x32, 0x22}));
  EXPECT_EQ(module.Records.size(), 1u);
  RunFor(60000);
  EXPECT_EQ(module.Writes.size(), before + 2);  // and then it is done
}

TEST_F(ClientRequest, ASilentOnceRequestIsGivenUpAfterItsAttemptsAndSaysSo) {
  module.Quality = true;
  Load({{.Method = kMethodOnce, .Caption = "Reading"}});
  PortEvent(kEventPortOpened);
  RunFor(20000);
  EXPECT_EQ(module.Writes.size(), 6u);  // three times a preamble and the request
  EXPECT_EQ(TimeoutLines(), 3u);
  EXPECT_TRUE(
      module.Logged("1 [000000000001/Voltage A] . Reading. Given up after 3 attempts "
                    "(client 7 COM1, address 000000000001)"));
  // A host that asks for them gets the failure as a record too.
  ASSERT_EQ(module.Records.size(), 1u);
  const Record& r = module.Records[0];
  EXPECT_EQ(r.Via, "output");
  EXPECT_EQ(r.Get("DEVICE_ID"), "000000000001");
  EXPECT_EQ(r.Get("DATA_TYPE_ID_STR"), "02010100");
  EXPECT_EQ(r.Get("QUALITY"), "timeout");
  EXPECT_EQ(r.Get("REASON"), "no answer after 3 attempts");
  EXPECT_EQ(r.Get("CLIENTID"), "7");
}

TEST_F(ClientRequest, ErrorWhileSendingIsLoggedWithTheLabelOfTheItemSent) {
  module.WriteResult = [](const std::string& hex) -> int32_t {
    if (hex.substr(3, 2) == "02") throw std::runtime_error("port gone");
    return 16;
  };
  Load({{.Device = "1", .Timeout = 0}});
  PortEvent(kEventPortOpened);
  RunUntilWrites(2);
  TDlt645ParserClient& client = *Client();
  ASSERT_NE(client.Queue->LockState().Pending(), nullptr);  // no time-out: it stays
  EXPECT_EQ(Send(client, {.Device = "000000000002", .Code = 0x02020100}), -1);
  EXPECT_TRUE(module.Logged("0 [000000000002/Current A] : port gone"));
}

TEST_F(ClientRequest, GroupWhoseLastRequestTimesOutDeliversTheOthers) {
  Load({{.Code = 0x02010100, .PollInterval = 600000, .Group = 4},
        {.Code = 0x02020100, .PollInterval = 600000, .Group = 4},
        {.Code = 0x02030000, .PollInterval = 600000, .Group = 4}});
  PortEvent(kEventPortOpened);
  RunUntilWrites(2);
  Feed(Answer("000000000001", 0x02010100, {0x32, 0x22}));
  RunUntilWrites(3);
  Feed(Answer("000000000001", 0x02020100, {0x00, 0x15, 0x00}));
  RunFor(3000);
  ASSERT_EQ(module.Records.size(), 1u);
  const Record& r = module.Records[0];
  EXPECT_EQ(r.Via, "output");
  EXPECT_EQ(r.Names(), (std::vector<std::string>{"DEVICE_ID", "DATA_TYPE_ID_STR", "DATA_TYPE_ID",
                                                 "VOLTAGE_A", "CURRENT_A1"}));
  EXPECT_EQ(r.Get("VOLTAGE_A"), "223.2");
  EXPECT_EQ(r.Get("CURRENT_A1"), "1.5");
  EXPECT_EQ(r.Get("DATA_TYPE_ID_STR"), "02010100");
  EXPECT_EQ(TimeoutLines(), 3u);
  EXPECT_TRUE(
      module.Logged("1 [000000000001/Instant active power (summary)] . Request #1. Request timeout "
                    "(client 7 COM1, address 000000000001)"));
  // Each attempt after a time-out wakes the meter again.
  std::vector<std::string> w = module.WrittenBytes();
  ASSERT_EQ(w.size(), 8u);
  EXPECT_EQ(w[4], kPreamble);
  EXPECT_EQ(w[6], kPreamble);
}

TEST_F(ClientRequest, ASilentMeterOnASharedLineDoesNotHoldUpTheOthers) {
  std::vector<RequestSpec> shapes;
  for (int meter = 1; meter <= 3; ++meter)
    for (uint32_t code : {0x02010100u, 0x02020100u, 0x02030000u})
      shapes.push_back({.Device = "00000000000" + std::to_string(meter),
                        .Code = code,
                        .PollInterval = 2000,
                        .Timeout = 1000,
                        .Group = static_cast<uintptr_t>(meter)});
  Load(shapes);
  PortEvent(kEventPortOpened);
  // Meters 1 and 3 answer every request at once; meter 2 is missing.
  std::vector<std::vector<uint64_t>> records(4);
  size_t seen = 0;
  for (uint64_t t = 0; t < 30000; t += 10) {
    RunFor(10);
    for (; seen < module.Writes.size(); ++seen) {
      const Bytes frame = Hex(module.Writes[seen].Bytes);
      if (frame.size() < 14 || frame[1] == 2) continue;
      uint32_t id = 0;
      for (int i = 13; i >= 10; --i)
        id = id << 8 | static_cast<uint8_t>(frame[static_cast<size_t>(i)] - 0x33);
      const size_t before = module.Records.size();
      Feed(Answer("00000000000" + std::to_string(frame[1]), id,
                  id == 0x02010100 ? Bytes{0x32, 0x22} : Bytes{0x00, 0x15, 0x00}));
      if (module.Records.size() > before) records[frame[1]].push_back(platform::Tick64());
    }
  }
  // The first round costs the others the silent meter's three attempts;
  // from then on it gets one a round and the others keep their period.
  for (size_t meter : {1u, 3u}) {
    const std::vector<uint64_t>& at = records[meter];
    ASSERT_GE(at.size(), 14u) << meter;
    EXPECT_LE(at[1] - at[0], 2000u + 2 * 1000u) << meter;
    for (size_t i = 2; i < at.size(); ++i)
      EXPECT_LE(at[i] - at[i - 1], 2000u + 100u) << meter << " " << i;
  }
  // Meter 2 is tried again every round, with its first request only, once.
  size_t asked_meter2 = 0;
  for (const Write& w : module.Writes)
    asked_meter2 += w.Bytes.rfind("68 02", 0) == 0 ? 1 : 0;
  EXPECT_GE(asked_meter2, 3u + 12);
  EXPECT_LE(asked_meter2, 3u + 15);
  // Every attempt but one still awaited at the end is a logged time-out, and
  // the change to one attempt is said once.
  EXPECT_LE(asked_meter2 - TimeoutLines(), 1u);
  size_t said = 0;
  for (const std::string& line : module.LogLines)
    said += line.find("one attempt a request until the device answers") != std::string::npos;
  EXPECT_EQ(said, 1u);
}

TEST_F(ClientRequest, ATruncatedHeaderHidesNoAnswerAndGoesWithTheTimeOut) {
  Load({{.Timeout = 1000}});
  PortEvent(kEventPortOpened);
  RunUntilWrites(2);
  // A header that promises 255 data bytes, 50 bytes of it, then the answer.
  Bytes noise = Hex("68 01 00 00 00 00 00 68 91 FF");
  noise.resize(50, 0x35);
  Feed(noise);
  Feed(Answer("000000000001", 0x02010100, {0x32, 0x22}));
  ASSERT_EQ(module.Records.size(), 1u);
  EXPECT_EQ(module.Records[0].Get("VOLTAGE_A"), "223.2");
  EXPECT_EQ(module.Writes.size(), 2u);  // its first attempt
  EXPECT_EQ(TimeoutLines(), 0u);

  // Left alone, such bytes go when the wait they were part of times out.
  RunUntilWrites(3);  // the next poll, the meter still awake
  Feed(noise);
  for (int i = 0; i < 1000 && TimeoutLines() == 0; ++i)
    RunFor(10);
  ASSERT_EQ(TimeoutLines(), 1u);
  Feed(Hex("FE FE"));
  EXPECT_EQ(Client()->Buffer->Count(), 2u);
}

TEST_F(ClientRequest, ClosingThePortEndsThePendingRequest) {
  Load({{.Timeout = 5000}});
  PortEvent(kEventPortOpened);
  RunUntilWrites(2);
  EXPECT_NE(Client()->Queue->LockState().Pending(), nullptr);
  PortEvent(kEventPortClosed);
  EXPECT_EQ(Client()->Queue->LockState().Pending(), nullptr);
}

}  // namespace
