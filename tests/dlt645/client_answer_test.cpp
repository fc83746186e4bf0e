// The client's side of an answer: which request a frame answers, what is
// logged, and the records that reach the host.
#include <gtest/gtest.h>

#include "client_test_support.h"
#include "parser/queue_controller.h"

namespace {

using namespace client_test;

class ClientAnswer : public ClientFixture {
 protected:
  // Listen-only requests; the client is made by the first data block.
  void Listen(std::vector<RequestSpec> shapes) {
    for (RequestSpec& shape : shapes)
      shape.Enabled = false;
    Load(std::move(shapes));
  }
  void FeedAll(const std::vector<Bytes>& frames) {
    Bytes block;
    for (const Bytes& f : frames)
      dlt645::testing::Append(block, f);
    Feed(block);
  }
  void RunUntilWrites(size_t count) {
    for (int i = 0; module.Writes.size() < count && i < 10000; ++i)
      RunFor(10);
    ASSERT_GE(module.Writes.size(), count);
  }
  TQueueState State() { return Client()->Queue->LockState(); }
  size_t LinesWith(const std::string& text) const {
    size_t n = 0;
    for (const std::string& line : module.LogLines)
      n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
  }
};

const std::string kDev1 = "000000000001";

TEST_F(ClientAnswer, ValuesAsTheMeterSendsThem) {
  Listen({{.Code = 0x02010100, .Group = 1},
          {.Code = 0x02030000, .Group = 2},
          {.Code = 0x0001FF00, .Group = 3},
          {.Code = 0x01150000, .Group = 4},
          {.Code = 0x00010000, .Rate = 2, .Group = 5}});
  const Bytes voltage = Answer(kDev1, 0x02010100, {0x32, 0x22});
  EXPECT_EQ(dlt645::testing::HexText(&voltage[10], 6), "33 34 34 35 65 55");
  FeedAll({voltage, Answer(kDev1, 0x02030000, {0x00, 0x95, 0x92}),
           Answer(kDev1, 0x02030000, {0x00, 0x95, 0x12}), Answer(kDev1, 0x02010100, {0xFF, 0x22}),
           Answer(kDev1, 0x0001FF00, {0x00, 0x00, 0x01, 0x00, 0x01, 0, 0,    0, 0x02, 0,
                                      0,    0,    0x03, 0,    0,    0, 0x04, 0, 0,    0}),
           Answer(kDev1, 0x01150000, {0x00, 0x95, 0x12, 0x30, 0x12, 0x15, 0x06, 0x24}),
           Answer(kDev1, 0x00010200, {0x00, 0x00, 0x01, 0x00})});
  const std::vector<Record>& r = module.Records;
  ASSERT_EQ(r.size(), 7u);
  EXPECT_TRUE(module.LastAppend);
  for (const Record& record : r)
    EXPECT_EQ(record.Via, "result");

  EXPECT_EQ(r[0].Text, AsText(voltage));
  EXPECT_NE(r[0].Find("FULL_DATA_PACKET"), nullptr);
  EXPECT_NE(r[0].Find("DATA_PACKET"), nullptr);
  EXPECT_EQ(r[0].Get("DATA_SOURCE_ID"), "1");
  EXPECT_EQ(r[0].Get("DATA_SOURCE_FULL_NAME"), "COM1 9600");
  EXPECT_EQ(r[0].Get("CLIENTID"), "7");
  EXPECT_EQ(r[0].Get("DEVICE_ID"), kDev1);
  EXPECT_EQ(r[0].Get("VOLTAGE_A"), "223.2");

  EXPECT_EQ(r[1].Get("INSTANT_ACTIVE_POWER"), "-12.95");
  EXPECT_EQ(r[2].Get("INSTANT_ACTIVE_POWER"), "12.95");
  EXPECT_EQ(r[3].Get("VOLTAGE_A"), "0");
  EXPECT_EQ(r[4].Names(),
            (std::vector<std::string>{"DEVICE_ID", "DATA_TYPE_ID_STR", "DATA_TYPE_ID",
                                      "TOTAL_POSITIVE_ACTIVE1", "TOTAL_POSITIVE_ACTIVE2",
                                      "TOTAL_POSITIVE_ACTIVE3", "TOTAL_POSITIVE_ACTIVE4",
                                      "TOTAL_POSITIVE_ACTIVE5"}));
  EXPECT_EQ(r[4].Get("TOTAL_POSITIVE_ACTIVE1"), "100");
  EXPECT_EQ(r[4].Get("TOTAL_POSITIVE_ACTIVE5"), "0.04");
  EXPECT_EQ(r[5].Names(), (std::vector<std::string>{"DEVICE_ID", "DATA_TYPE_ID_STR", "DATA_TYPE_ID",
                                                    "TIMESTAMP1", "DEMAND_CURRENT_PHASE_A_PAE"}));
  EXPECT_EQ(r[5].Get("TIMESTAMP1"), "2024-06-15 12:30:00");
  EXPECT_EQ(r[5].Get("DEMAND_CURRENT_PHASE_A_PAE"), "12.95");
  EXPECT_EQ(r[6].Get("TOTAL_POSITIVE_ACTIVE2"), "100");
  EXPECT_EQ(r[6].Get("DATA_TYPE_ID_STR"), "00010000");
  EXPECT_EQ(r[6].Get("DATA_TYPE_ID"), "66048");
  EXPECT_EQ(r[6].Find("DATA_TYPE_ID")->Type, platform::VT_UI4);
}

TEST_F(ClientAnswer, TwoFunctionsOfOneRequestGiveOneRecord) {
  Listen({{.Code = 0x02010100, .Group = 1}, {.Code = 0x02020100, .Group = 1}});
  const Bytes voltage = Answer(kDev1, 0x02010100, {0x32, 0x22});
  const Bytes current = Answer(kDev1, 0x02020100, {0x00, 0x15, 0x00});
  Feed(voltage);
  EXPECT_TRUE(module.Records.empty());
  Feed(current);
  ASSERT_EQ(module.Records.size(), 1u);
  const Record& r = module.Records[0];
  EXPECT_EQ(r.Names(), (std::vector<std::string>{"DEVICE_ID", "DATA_TYPE_ID_STR", "DATA_TYPE_ID",
                                                 "VOLTAGE_A", "CURRENT_A1"}));
  EXPECT_EQ(r.Get("DATA_TYPE_ID"), "33620224");  // the first function's
  EXPECT_EQ(r.Text, AsText(voltage) + kParsedTextSeparator + AsText(current));
}

TEST_F(ClientAnswer, ARecordHoldsOneGroupAndEachNameOnce) {
  Listen({{.Code = 0x01150000, .Group = 1},
          {.Code = 0x01170000, .Group = 1},
          {.Code = 0x02010100, .Group = 2},
          {.Code = 0x02020100, .Group = 2},
          {.Code = 0x02030000, .Group = 3}});
  const Bytes stamp{0x30, 0x12, 0x15, 0x06, 0x24};
  Bytes active{0x00, 0x95, 0x12};
  Bytes reactive{0x00, 0x11, 0x01};
  dlt645::testing::Append(active, stamp);
  dlt645::testing::Append(reactive, stamp);
  // Both demand functions add TIMESTAMP1; then a group is left unfinished
  // by an answer of another group.
  FeedAll({Answer(kDev1, 0x01150000, active), Answer(kDev1, 0x01170000, reactive),
           Answer(kDev1, 0x02010100, {0x32, 0x22}), Answer(kDev1, 0x02030000, {0, 0, 0})});
  const std::vector<Record>& r = module.Records;
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].Via, "output");
  EXPECT_EQ(r[0].Names().back(), "DEMAND_CURRENT_PHASE_A_PAE");
  EXPECT_EQ(r[1].Via, "result");
  EXPECT_EQ(r[1].Names(), (std::vector<std::string>{"DEVICE_ID", "DATA_TYPE_ID_STR", "DATA_TYPE_ID",
                                                    "TIMESTAMP1", "DEMAND_CURRENT_PHASE_A_PRE"}));
  EXPECT_EQ(r[2].Via, "output");
  EXPECT_EQ(r[2].Names().back(), "VOLTAGE_A");
  EXPECT_EQ(r[3].Via, "result");
  EXPECT_EQ(r[3].Names().back(), "INSTANT_ACTIVE_POWER");
}

TEST_F(ClientAnswer, ListeningGoesOnAfterTheFirstMatch) {
  Listen({{.Code = 0x02010100, .Group = 1}, {.Code = 0x02030000, .Group = 2}});
  for (int round = 0; round < 2; ++round) {
    Feed(Answer(kDev1, 0x02010100, {0x32, 0x22}));
    Feed(Answer(kDev1, 0x02030000, {0x00, 0x95, 0x12}));
  }
  ASSERT_EQ(module.Records.size(), 4u);
  EXPECT_EQ(module.Records[3].Names().back(), "INSTANT_ACTIVE_POWER");
}

TEST_F(ClientAnswer, AnAwaitedRequestIsTheOnlyCandidate) {
  Load({{.Code = 0x02010100, .PollInterval = 600000, .Timeout = 2000, .Group = 1},
        {.Device = "000000000002", .Code = 0x02020100, .Enabled = false, .Group = 2}});
  PortEvent(kEventPortOpened);
  RunUntilWrites(2);
  const Bytes other = Answer("000000000002", 0x02020100, {0x00, 0x15, 0x00});
  Feed(other);
  EXPECT_TRUE(module.Records.empty());
  Feed(Answer(kDev1, 0x02010100, {0x32, 0x22}));
  Feed(other);
  ASSERT_EQ(module.Records.size(), 2u);
  EXPECT_EQ(module.Records[0].Get("VOLTAGE_A"), "223.2");
  EXPECT_EQ(module.Records[1].Get("CURRENT_A1"), "1.5");
  EXPECT_EQ(LinesWith("Unallowable"), 0u);
}

TEST_F(ClientAnswer, EchoesAndOtherDevicesErrorsEndNothing) {
  Load({{.Code = 0x02010100, .PollInterval = 600000, .Timeout = 2000}});
  PortEvent(kEventPortOpened);
  RunUntilWrites(2);
  Feed(Hex(module.Writes[1].Bytes));  // our own request, echoed
  EXPECT_TRUE(
      module.Logged("0 Received message from 000000000001 with error code on request function 17 "
                    "[Outgoing data received!]"));
  Feed(dlt645::testing::MakeFrame(dlt645::AddressFromText("000000000002"), 0xD1, {0x06}));
  EXPECT_TRUE(
      module.Logged("0 Received message from 000000000002 with error code on request function 209 "
                    "[No request data, Access denied]"));
  EXPECT_TRUE(State().Awaited());

  // Two error answers of the meter asked: both logged, the request ended.
  FeedAll({dlt645::testing::MakeFrame(dlt645::AddressFromText(kDev1), 0xD1, {0x01}),
           dlt645::testing::MakeFrame(dlt645::AddressFromText(kDev1), 0xD1, {0x40})});
  EXPECT_EQ(LinesWith("[Other error]"), 1u);
  EXPECT_EQ(LinesWith("[Exceed rate number]"), 1u);
  EXPECT_EQ(State().Pending(), nullptr);
  EXPECT_EQ(Client()->Buffer->Count(), 0u);
  RunFor(5000);
  EXPECT_EQ(LinesWith("Request timeout"), 0u);
}

TEST_F(ClientAnswer, ErrorAnswerToTheLastRequestOfAGroupDeliversTheGroup) {
  Load({{.Code = 0x02010100, .PollInterval = 600000, .Group = 1},
        {.Code = 0x02020100, .PollInterval = 600000, .Group = 1}});
  PortEvent(kEventPortOpened);
  RunUntilWrites(2);
  Feed(Answer(kDev1, 0x02010100, {0x32, 0x22}));
  RunUntilWrites(3);
  Feed(dlt645::testing::MakeFrame(dlt645::AddressFromText(kDev1), 0xD1, {0x02}));
  ASSERT_EQ(module.Records.size(), 1u);
  EXPECT_EQ(module.Records[0].Via, "output");
  EXPECT_EQ(module.Records[0].Get("VOLTAGE_A"), "223.2");

  // With quality records asked for, the refusal follows as one of its own.
  module.Quality = true;
  RunFor(600000);
  RunUntilWrites(5);
  Feed(Answer(kDev1, 0x02010100, {0x32, 0x22}));
  RunUntilWrites(6);
  Feed(dlt645::testing::MakeFrame(dlt645::AddressFromText(kDev1), 0xD1, {0x02}));
  ASSERT_EQ(module.Records.size(), 3u);
  EXPECT_EQ(module.Records[1].Get("VOLTAGE_A"), "223.2");
  EXPECT_EQ(module.Records[2].Get("DATA_TYPE_ID_STR"), "02020100");
  EXPECT_EQ(module.Records[2].Get("QUALITY"), "error");
  EXPECT_EQ(module.Records[2].Get("REASON"), "No request data");
}

TEST_F(ClientAnswer, LateAnswersStaySilentUnknownDevicesCloseTheConnection) {
  Load({{.Code = 0x02010100, .PollInterval = 600000, .Timeout = 500}});
  PortEvent(kEventPortOpened);  // an event block: the client is bound to its connection
  RunFor(3000);
  EXPECT_EQ(LinesWith("Request timeout"), 3u);
  Feed(Answer(kDev1, 0x02010100, {0x32, 0x22}));
  EXPECT_TRUE(module.Records.empty());
  EXPECT_EQ(LinesWith("Unallowable"), 0u);
  EXPECT_TRUE(module.Texts.empty());

  Feed(Answer("000000000009", 0x02010100, {0x32, 0x22}));
  EXPECT_TRUE(module.Logged("1 Unallowable address: 000000000009"));
  EXPECT_EQ(module.Texts, (std::vector<std::string>{"<<CLOSE>>"}));
}

TEST_F(ClientAnswer, TheQueueMovingOnBetweenSearchAndDecoding) {
  Load({{.Code = 0x02010100, .Timeout = 2000, .Group = 1},
        {.Device = "000000000002", .Code = 0x02020100, .Enabled = false, .Group = 2}});
  Feed({});  // a client that no port event started: its queue stays still
  TDlt645ParserClient& client = *Client();
  const auto search = [&client](const Bytes& frame) {
    auto lock = client.Buffer->WriteLocked();
    client.AddData(frame.data(), static_cast<int32_t>(frame.size()));
    bool again = false;
    return client.FindFrame(again);
  };
  const auto decode = [&client](TParsedDataList& list, int n) {
    auto lock = client.Buffer->WriteLocked();
    const int fields = client.ParseFrame(list);
    client.Buffer->Consume(static_cast<uint32_t>(n));
    return fields;
  };

  // A listen-only answer is found, then a request goes out before it is decoded.
  int n = search(Answer("000000000002", 0x02020100, {0x00, 0x15, 0x00}));
  ASSERT_GT(n, 0);
  {
    auto st = client.Queue->LockState();
    client.Queue->Pending = st.Items()[0];
    client.Queue->AnswerTimer.StartWith(2000);
  }
  TParsedDataList heard;
  EXPECT_GT(decode(heard, n), 0);
  EXPECT_TRUE(State().Awaited());  // the request sent still waits for its answer

  // Its answer is found, then its time-out ends it: the frame is late.
  n = search(Answer(kDev1, 0x02010100, {0x32, 0x22}));
  ASSERT_GT(n, 0);
  State().EndPending(2);
  TParsedDataList late;
  EXPECT_EQ(decode(late, n), -1);
  EXPECT_EQ(late.Count(), 0);
}

TEST_F(ClientAnswer, BadChecksumCostsOneByte) {
  Listen({{.Code = 0x02010100}});
  const Bytes good = Answer(kDev1, 0x02010100, {0x32, 0x22});
  Bytes bad = good;
  bad[15] = static_cast<uint8_t>(bad[15] + 1);
  char line[80];
  std::snprintf(line, sizeof line, "1 Invalid CRC (%.2x,%.2x) [000000000001,91]", bad[16],
                dlt645::FrameChecksum(bad.data(), bad.size()));
  FeedAll({bad, good});
  EXPECT_TRUE(module.Logged(line)) << line;
  ASSERT_EQ(module.Records.size(), 1u);
  EXPECT_EQ(module.Records[0].Get("VOLTAGE_A"), "223.2");
}

TEST_F(ClientAnswer, FramesShorterThanTheIdentifierNeverMatch) {
  Listen({{.Code = 0x02010100, .Group = 1}, {.Code = 0x8000B611, .Group = 2}});
  FeedAll({dlt645::testing::MakeFrame(dlt645::AddressFromText(kDev1), 0x91, {0x00, 0x01, 0x01}),
           dlt645::testing::MakeFrame(dlt645::AddressFromText(kDev1), 0x81, {0x11})});
  EXPECT_TRUE(module.Records.empty());
  // The identifier alone: a record without values.
  Feed(Answer(kDev1, 0x02010100, {}));
  ASSERT_EQ(module.Records.size(), 1u);
  EXPECT_EQ(module.Records[0].Names().back(), "DATA_TYPE_ID");
}

}  // namespace
