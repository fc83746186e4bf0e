// The whole plug-in through its exports: configurations stored where the
// host's settings live, requests written to the host's ports, meters that
// answer, and the records that come back. On POSIX the host's clock is
// virtual; on Windows the host's message loop runs in real time, so the
// intervals here are short and the counts tolerant.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "host_os.h"
#include "host_session.h"
#include "meter_model.h"

namespace {

using host::DataRecord;
using host::MeterLine;
using host::Session;

// One configured request: keys as XML, functions as "code" or "code/rate".
std::string Request(const std::string& devices, const std::vector<std::string>& functions,
                    const std::string& method, const std::string& extra = "", bool enabled = true) {
  std::string xml = "<Request caption=\"Meters\"><Enabled>" + std::string(enabled ? "1" : "0") +
                    "</Enabled><Device>" + devices + "</Device><Timeout>300</Timeout>" + method +
                    extra + "<Response>";
  for (const std::string& f : functions) {
    const size_t slash = f.find('/');
    xml += "<Item><Function>" + f.substr(0, slash) + "</Function><Rate>" +
           (slash == std::string::npos ? "0" : f.substr(slash + 1)) + "</Rate></Item>";
  }
  return xml + "</Response></Request>";
}

std::string Poll(int ms) {
  return "<MethodPoll>1</MethodPoll><PollInterval>" + std::to_string(ms) +
         "</PollInterval><PollUnits>MS</PollUnits>";
}

std::string Query(const std::string& requests) {
  return "<?xml version=\"1.0\"?>\r\n<DL_T645_2007_QUERY>\r\n" + requests +
         "\r\n</DL_T645_2007_QUERY>";
}

// The time of day `seconds` from now on the host's clock, as "hh:mm:ss".
std::string TimeOfDayIn(int seconds) {
  const double day = hostos::LocalDateTime();
  int64_t s = std::llround((day - std::floor(day)) * 86400.0) + seconds;
  s %= 86400;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(s / 3600),
                static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  return text;
}

std::vector<DataRecord> FromDevice(const std::vector<DataRecord>& records,
                                   const std::string& address) {
  std::vector<DataRecord> out;
  for (const DataRecord& r : records)
    if (r.Text("DEVICE_ID") == address) out.push_back(r);
  return out;
}

class E2ePolling : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host::Library::Get().Loaded()) << host::Library::Get().Error();
  }

  // Stores the configuration, loads, turns both roles on for data source 1
  // (COM1) and opens its port as client 1.
  void Start(const std::string& query, double min_interval = 0) {
    ASSERT_TRUE(s.Store(query, min_interval));
    ASSERT_EQ(s.Load(), 0);
    ASSERT_EQ(s.SetState(3, 1), 0);
    ASSERT_EQ(s.PortEvent(1, 1, true), 0);
  }

  Session s;
};

TEST_F(E2ePolling, PolledMetersAnswerIntoOneRecordPerDevice) {
  s.Line().AddMeter("000000000001");
  s.Line().AddMeter("000000000002");
  Start(Query(Request("1;2", {"02010100", "0201FF00", "8000B611"}, Poll(1000))));
  s.Run(2500);

  // Every function is asked of every device, the 1997 one by its 1997 frame.
  for (const char* device : {"000000000001", "000000000002"}) {
    EXPECT_GE(s.Line().CountRequests(device, 0x02010100), 2) << device;
    EXPECT_GE(s.Line().CountRequests(device, 0x0201FF00), 2) << device;
    EXPECT_GE(s.Line().CountRequests(device, 0xB611), 2) << device;
  }
  for (const MeterLine::Request& r : s.Line().Requests()) {
    EXPECT_EQ(r.is1997, r.id == 0xB611);
    EXPECT_EQ(r.client_id, 1u);
    EXPECT_EQ(r.data_source_no, 1u);
  }
  // The first write of a device is the wake-up preamble.
  const auto writes = s.Line().Writes();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes[0], (std::vector<uint8_t>{0xFE, 0xFE, 0xFE, 0xFE}));

  const std::vector<DataRecord> records = s.TakeRecords();
  const std::vector<MeterLine::Answer> answers = s.Line().Delivered();
  ASSERT_GE(answers.size(), 6u);
  for (const char* device : {"000000000001", "000000000002"}) {
    const std::vector<DataRecord> mine = FromDevice(records, device);
    ASSERT_GE(mine.size(), 2u) << device;
    const DataRecord& r = mine[0];
    EXPECT_FALSE(r.from_output);
    EXPECT_EQ(r.Text("DATA_TYPE_ID_STR"), "02010100");
    EXPECT_EQ(r.Number("DATA_TYPE_ID"), 0x02010100);
    EXPECT_EQ(r.Number("DATA_SOURCE_ID"), 1);
    EXPECT_EQ(r.Number("CLIENTID"), 1);
    EXPECT_EQ(r.Text("DATA_SOURCE_FULL_NAME"), "Meter line");
    EXPECT_TRUE(r.Has("FULL_DATA_PACKET"));
    // The values of the device's first answers, decoded into its first
    // record (values change from minute to minute: the later ones may differ).
    auto first_value = [&](uint32_t id) {
      for (const MeterLine::Answer& a : answers)
        if (metersim::AddressText(a.meter) == device && a.id == id && !a.reading.values.empty())
          return a.reading.values[0].Value();
      return -1.0;
    };
    EXPECT_DOUBLE_EQ(r.Number("VOLTAGE_A"), first_value(0x02010100));
    EXPECT_DOUBLE_EQ(r.Number("PHASE_A_VOLTAGE"), first_value(0xB611));
    EXPECT_TRUE(r.Has("VOLTAGE1"));
    EXPECT_TRUE(r.Has("VOLTAGE3"));
    EXPECT_TRUE(r.Has("PHASE_A_VOLTAGE"));
  }
}

TEST_F(E2ePolling, OnceRequestsAreSentOnce) {
  s.Line().AddMeter("000000000003");
  Start(Query(Request("3", {"02010100", "02020100"}, "<MethodOnce>1</MethodOnce>")));
  s.Run(1500);
  EXPECT_EQ(s.Line().CountRequests("000000000003", 0x02010100), 1);
  EXPECT_EQ(s.Line().CountRequests("000000000003", 0x02020100), 1);
  const std::vector<DataRecord> records = s.TakeRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].Has("VOLTAGE_A"));
  EXPECT_TRUE(records[0].Has("CURRENT_A1"));
}

TEST_F(E2ePolling, RequestsAtTimesOfDay) {
  s.Line().AddMeter("000000000004");
  Start(Query(Request("4", {"02010100"},
                      "<MethodAtTime>1</MethodAtTime><AtTime>" + TimeOfDayIn(3) + "</AtTime>")));
  s.Run(1000);
  EXPECT_EQ(s.Line().CountRequests("000000000004", 0x02010100), 0);
  s.Run(3500);
  EXPECT_EQ(s.Line().CountRequests("000000000004", 0x02010100), 1);
  EXPECT_EQ(FromDevice(s.TakeRecords(), "000000000004").size(), 1u);
}

TEST_F(E2ePolling, RequestsByCronText) {
  s.Line().AddMeter("000000000005");
  Start(Query(
      Request("5", {"02010100"}, "<MethodCron>1</MethodCron><CronTime>*/2 * * * * *</CronTime>")));
  s.Run(5000);
  const int n = s.Line().CountRequests("000000000005", 0x02010100);
  EXPECT_GE(n, 2);
  EXPECT_LE(n, 3);
  EXPECT_EQ(static_cast<int>(FromDevice(s.TakeRecords(), "000000000005").size()), n);
}

TEST_F(E2ePolling, ABadCronTextIsLogged) {
  Start(Query(
      Request("5", {"02010100"}, "<MethodCron>1</MethodCron><CronTime>0 0 77 * * *</CronTime>")));
  EXPECT_NE(s.TakeLog().find("Unable to parse expression \"0 0 77 * * * *, "), std::string::npos);
}

TEST_F(E2ePolling, RequestsOnHostEvents) {
  s.Line().AddMeter("000000000006");
  Start(
      Query(Request("6", {"02010100"}, "<MethodEvent>1</MethodEvent><EventId>ReadNow</EventId>")));
  s.Run(500);
  EXPECT_EQ(s.Line().CountRequests("000000000006", 0x02010100), 0);
  EXPECT_EQ(s.Event("ReadNow"), 0);
  s.Run(500);
  EXPECT_EQ(s.Line().CountRequests("000000000006", 0x02010100), 1);
  EXPECT_EQ(s.Event("readnow"), 0);
  s.Run(500);
  EXPECT_EQ(s.Line().CountRequests("000000000006", 0x02010100), 2);
  EXPECT_EQ(s.Event("Other"), 0);
  s.Run(500);
  EXPECT_EQ(s.Line().CountRequests("000000000006", 0x02010100), 2);
  EXPECT_EQ(FromDevice(s.TakeRecords(), "000000000006").size(), 2u);
}

TEST_F(E2ePolling, ListenOnlyRequestsDecodeAnotherMastersTraffic) {
  Start(Query(Request("7", {"02010100"}, Poll(100), "", false)));
  s.Run(500);
  EXPECT_TRUE(s.Line().Requests().empty());
  // Another master asks meter 7; the meter answers on the same line.
  const std::vector<uint8_t> question = {0x68, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68,
                                         0x11, 0x04, 0x33, 0x34, 0x34, 0x35, 0xBC, 0x16};
  EXPECT_EQ(s.Receive(1, 1, question), 0);
  EXPECT_NE(s.TakeLog().find("Outgoing data received!"), std::string::npos);
  const MeterLine::Answer answer = MeterLine::Read("000000000007", 0x02010100, false);
  EXPECT_EQ(s.Receive(1, 1, answer.bytes), 0);
  const std::vector<DataRecord> records = s.TakeRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Text("DEVICE_ID"), "000000000007");
  EXPECT_DOUBLE_EQ(records[0].Number("VOLTAGE_A"), answer.reading.values[0].Value());
  // An answer for a device nobody configured is refused.
  EXPECT_EQ(s.Receive(1, 1, MeterLine::Read("000000000008", 0x02010100, false).bytes), 0);
  EXPECT_TRUE(s.TakeRecords().empty());
  EXPECT_NE(s.TakeLog().find("Unallowable address: 000000000008"), std::string::npos);
}

TEST_F(E2ePolling, WildcardAndBroadcastDevicesLearnTheMeter) {
  s.Line().AddMeter("000000000042");
  Start(Query(Request("999999999999", {"02020100"}, Poll(400)) +
              Request("", {"02010100"}, Poll(400))));
  s.Run(2000);
  const std::vector<MeterLine::Request> requests = s.Line().Requests();
  ASSERT_GE(requests.size(), 4u);
  // Before anything was heard, the broadcast address; then the address of
  // the meter that answered, for the broadcast and the any-device entry.
  EXPECT_EQ(requests[0].address, "999999999999");
  EXPECT_EQ(requests[0].id, 0x02020100u);
  EXPECT_EQ(requests[1].address, "000000000042");
  EXPECT_EQ(requests[1].id, 0x02010100u);
  EXPECT_EQ(requests.back().address, "000000000042");
  const std::vector<DataRecord> records = FromDevice(s.TakeRecords(), "000000000042");
  ASSERT_GE(records.size(), 2u);
  EXPECT_TRUE(records[0].Has("CURRENT_A1"));
  EXPECT_TRUE(records[1].Has("VOLTAGE_A"));
}

TEST_F(E2ePolling, SilentRequestsAreRetriedAndTheirGroupIsSentByTheTimeout) {
  s.Line().AddMeter("000000000009");
  s.Line().MuteId(0x02020100, true);
  Start(Query(Request("9", {"02010100", "02020100"}, Poll(60000))));
  s.Run(2000);
  EXPECT_EQ(s.Line().CountRequests("000000000009", 0x02010100), 1);
  EXPECT_EQ(s.Line().CountRequests("000000000009", 0x02020100), 3);
  // The answered half of the group arrives through the host's output.
  const std::vector<DataRecord> records = s.TakeRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].from_output);
  EXPECT_EQ(records[0].data_source_no, 1u);
  EXPECT_EQ(records[0].client_id, 1u);
  EXPECT_EQ(records[0].Text("DEVICE_ID"), "000000000009");
  EXPECT_TRUE(records[0].Has("VOLTAGE_A"));
  EXPECT_FALSE(records[0].Has("CURRENT_A1"));
  EXPECT_FALSE(records[0].packet.empty());
  const std::string log = s.TakeLog();
  EXPECT_NE(log.find("DL-T645/2007. [9/Current A] . Meters. Request timeout"), std::string::npos)
      << log;
}

TEST_F(E2ePolling, APortThatIsNotOpenHoldsTheRequestsUntilItOpens) {
  s.Line().AddMeter("000000000010");
  host::HostServices::Get().SetAnswer(-12);
  Start(Query(Request("10", {"02010100"}, "<MethodOnce>1</MethodOnce>")));
  s.Run(3000);
  EXPECT_TRUE(s.Line().Requests().empty());
  // The port can take data again, but nobody said it opened: still held.
  host::HostServices::Get().SetAnswer(0);
  s.Run(1500);
  EXPECT_TRUE(s.Line().Requests().empty());
  EXPECT_EQ(s.Event("PORT-OPEN", "com1"), 0);
  s.Run(1500);
  EXPECT_EQ(s.Line().CountRequests("000000000010", 0x02010100), 1);
  EXPECT_EQ(FromDevice(s.TakeRecords(), "000000000010").size(), 1u);
}

// A listening port (modems dial in): the template client's writes have no
// connection to go to and are refused, which holds the port. The first
// connection that opens releases it without any "PORT-OPEN".
TEST_F(E2ePolling, AConnectionThatOpensReleasesAListeningPortsHold) {
  s.Line().AddMeter("000000000014");
  host::HostServices::Get().SetAnswer(-12);
  ASSERT_TRUE(s.Store(Query(Request("14", {"02010100"}, Poll(300)))));
  ASSERT_EQ(s.Load(), 0);
  ASSERT_EQ(s.SetState(3, 1), 0);
  s.Run(1000);
  host::HostServices::Get().SetAnswer(0);
  s.Run(1000);
  EXPECT_TRUE(s.Line().Requests().empty());
  ASSERT_EQ(s.PortEvent(1, 5, true), 0);
  s.Run(1000);
  EXPECT_GE(s.Line().CountRequests("000000000014", 0x02010100), 2);
  for (const MeterLine::Request& r : s.Line().Requests())
    EXPECT_EQ(r.client_id, 5u);
}

// Modems on a listening port: one whose connection is gone (the host refuses
// its writes) is held alone; the others go on being asked.
TEST_F(E2ePolling, AConnectionThatIsGoneHoldsOnlyItself) {
  s.Line().AddMeter("000000000015");
  ASSERT_TRUE(s.Store(Query(Request("15", {"02010100"}, Poll(300)))));
  ASSERT_EQ(s.Load(), 0);
  ASSERT_EQ(s.SetState(3, 1), 0);
  ASSERT_EQ(s.PortEvent(1, 5, true), 0);
  ASSERT_EQ(s.PortEvent(1, 6, true), 0);
  s.Run(1000);
  auto asked = [&](uintptr_t client) {
    int n = 0;
    for (const MeterLine::Request& r : s.Line().Requests())
      n += r.client_id == client;
    return n;
  };
  ASSERT_GE(asked(6), 2);

  host::HostServices::Get().SetAnswerFor(6, -12);
  s.Run(1000);
  host::HostServices::Get().Take();
  const int before = asked(5);
  s.Run(2000);
  EXPECT_GE(asked(5), before + 5);
  for (const host::SentData& sent : host::HostServices::Get().Take())
    EXPECT_NE(sent.client_id, 6u) << "a held connection was written to";

  // It dials in again: asked again.
  host::HostServices::Get().SetAnswerFor(6, 0);
  const int again = asked(6);
  ASSERT_EQ(s.PortEvent(1, 6, true), 0);
  s.Run(1000);
  EXPECT_GE(asked(6), again + 2);
}

TEST_F(E2ePolling, PortCloseAndOpen) {
  s.Line().AddMeter("000000000011");
  Start(Query(Request("11", {"02010100"}, Poll(300))));
  s.Run(1000);
  EXPECT_GE(s.Line().CountRequests("000000000011", 0x02010100), 2);

  // Closed: the host refuses writes.
  ASSERT_EQ(s.PortEvent(1, 1, false), 0);
  ASSERT_EQ(s.Event("PORT-CLOSE"), 0);
  host::HostServices::Get().SetAnswer(-12);
  const int before = s.Line().CountRequests("000000000011", 0x02010100);
  s.Run(2000);
  EXPECT_EQ(s.Line().CountRequests("000000000011", 0x02010100), before);

  host::HostServices::Get().SetAnswer(0);
  ASSERT_EQ(s.PortEvent(1, 1, true), 0);
  ASSERT_EQ(s.Event("PORT-OPEN", "COM1"), 0);
  s.Run(1000);
  EXPECT_GE(s.Line().CountRequests("000000000011", 0x02010100), before + 2);
}

TEST_F(E2ePolling, UnloadAndLoadAgainWithAnotherConfiguration) {
  s.Line().AddMeter("000000000012");
  s.Line().AddMeter("000000000013");
  Start(Query(Request("12", {"02010100"}, Poll(300))));
  s.Run(1000);
  const int first = s.Line().CountRequests("000000000012", 0x02010100);
  EXPECT_GE(first, 2);

  ASSERT_EQ(s.Unload(), 0);
  s.Run(1000);
  EXPECT_EQ(s.Line().CountRequests("000000000012", 0x02010100), first);
  // Roles on again without a load: nothing is configured, nothing is sent.
  ASSERT_EQ(s.SetState(3, 1), 0);
  ASSERT_EQ(s.Event("PORT-OPEN", "COM1"), 0);
  s.Run(1000);
  EXPECT_EQ(s.Line().CountRequests("000000000012", 0x02010100), first);
  s.TakeRecords();

  ASSERT_TRUE(s.Store(Query(Request("13", {"02020100"}, Poll(300)))));
  ASSERT_EQ(s.Load(), 0);
  ASSERT_EQ(s.SetState(3, 1), 0);
  s.Run(1000);
  EXPECT_EQ(s.Line().CountRequests("000000000012", 0x02010100), first);
  EXPECT_GE(s.Line().CountRequests("000000000013", 0x02020100), 2);
  const std::vector<DataRecord> records = s.TakeRecords();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().Text("DEVICE_ID"), "000000000013");
}

TEST_F(E2ePolling, AStateChangeBeforeTheLoad) {
  s.Line().AddMeter("000000000014");
  ASSERT_TRUE(s.Store(Query(Request("14", {"02010100"}, Poll(300)))));
  ASSERT_EQ(s.SetState(3, 1), 0);
  ASSERT_EQ(s.Load(), 0);
  ASSERT_EQ(s.PortEvent(1, 1, true), 0);
  s.Run(1000);
  EXPECT_GE(s.Line().CountRequests("000000000014", 0x02010100), 2);
}

TEST_F(E2ePolling, TheParseRoleAloneNeverSends) {
  s.Line().AddMeter("000000000015");
  ASSERT_TRUE(s.Store(Query(Request("15", {"02010100"}, Poll(300)))));
  ASSERT_EQ(s.Load(), 0);
  ASSERT_EQ(s.SetState(2, 1), 0);
  ASSERT_EQ(s.PortEvent(1, 1, true), 0);
  s.Run(1000);
  EXPECT_TRUE(s.Line().Requests().empty());
  // But answers that pass by are still decoded.
  EXPECT_EQ(s.Receive(1, 1, MeterLine::Read("000000000015", 0x02010100, false).bytes), 0);
  EXPECT_TRUE(s.TakeRecords().empty());  // nothing was asked: no request takes it
}

TEST_F(E2ePolling, The1997VariantOffersItsTableAndColumns) {
  ASSERT_TRUE(s.Store(Query(Request("1", {"8000B611", "02010100"}, Poll(300)))));
  ASSERT_EQ(s.Load(host::ConfigIdOf("DL-T645/1997")), 0);
  EXPECT_EQ(s.Plugin().GetParameter("LogTitle").AsText(), "DL-T645/1997");

  host::Call list(s.Plugin().Handle(), "EVENT");
  list.Set("EVENT-TYPE", host::Value::Text("GetFuncTypeList")).Set("RESULT", host::Value());
  ASSERT_EQ(s.Plugin().Command(list), 0);
  const std::string text = list.Result().AsText();
  EXPECT_EQ(text.rfind("Voltage (phase A)==8000B611||", 0), 0u) << text.substr(0, 80);
  size_t entries = 1;
  for (size_t at = text.find("||"); at != std::string::npos; at = text.find("||", at + 2))
    ++entries;
  EXPECT_EQ(entries, 66u);

  host::Call items(s.Plugin().Handle(), "ITEMS");
  items.Set("RESULT", host::Value());
  ASSERT_EQ(s.Plugin().Command(items), 0);
  const std::string columns = items.Result().AsText();
  EXPECT_EQ(columns.rfind("Full data packet|FULL_DATA_PACKET|String|\r\n", 0), 0u);
  EXPECT_NE(columns.find("Device ID|DEVICE_ID|String|"), std::string::npos);
  EXPECT_NE(columns.find("|PHASE_A_VOLTAGE|Float|0"), std::string::npos);
  EXPECT_EQ(columns.find("|VOLTAGE_A|"), std::string::npos);

  // Both generations are still polled: the code decides, not the variant.
  s.Line().AddMeter("000000000001");
  ASSERT_EQ(s.SetState(3, 1), 0);
  ASSERT_EQ(s.PortEvent(1, 1, true), 0);
  s.Run(700);
  EXPECT_GE(s.Line().CountRequests("000000000001", 0xB611), 1);
  EXPECT_GE(s.Line().CountRequests("000000000001", 0x02010100), 1);
  // Log lines name the variant.
  s.TakeLog();
  EXPECT_EQ(s.Receive(1, 1, MeterLine::Read("000000000077", 0x02010100, false).bytes), 0);
  EXPECT_NE(s.TakeLog().find("DL-T645/1997. Unallowable address: 000000000077"), std::string::npos);
}

TEST_F(E2ePolling, MinimumIntervalSpacesTheRequests) {
  s.Line().AddMeter("000000000016");
  Start(Query(Request("16", {"02010100", "02010200", "02010300"}, Poll(100))), 400);
  s.Run(2000);
  int total = 0;
  for (uint32_t id : {0x02010100u, 0x02010200u, 0x02010300u})
    total += s.Line().CountRequests("000000000016", id);
  EXPECT_GE(total, 3);
  EXPECT_LE(total, 6);
}

// --- bad input ------------------------------------------------------------

TEST_F(E2ePolling, EmptyAndMalformedConfigurationsLoadNothing) {
  s.Line().AddMeter("000000000001");
  for (const std::string& bad :
       {std::string(), std::string("<DL_T645_2007_QUERY"), std::string("\x01\x02<<</>>&&;"),
        std::string("<DL_T645_2007_QUERY><Request><Device>1</Device><Response>"),
        Query("<Request><Enabled>1</Enabled><Device>1</Device></Request>")}) {
    ASSERT_TRUE(s.Store(bad));
    ASSERT_EQ(s.Load(), 0);
    ASSERT_EQ(s.SetState(3, 1), 0);
    ASSERT_EQ(s.PortEvent(1, 1, true), 0);
    s.Run(300);
    EXPECT_TRUE(s.Line().Requests().empty());
    ASSERT_EQ(s.Unload(), 0);
  }
  EXPECT_TRUE(s.TakeRecords().empty());
}

TEST_F(E2ePolling, UnknownFunctionsAreSkippedAndRatesOutOfRangeAreRefusedByTheMeter) {
  s.Line().AddMeter("000000000001");
  Start(Query(Request("1", {"12345678", "8000FFFF", "00000000", "00010000/300"},
                      "<MethodOnce>1</MethodOnce>")));
  s.Run(1000);
  const std::vector<MeterLine::Request> requests = s.Line().Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].id, 0x00000000u);  // total combined active energy is a register
  // 300 modulo 256 is 44: rate 44 is asked for, and the meter has four.
  EXPECT_EQ(requests[1].id, 0x00012C00u);
  const std::string log = s.TakeLog();
  EXPECT_NE(log.find("Received message from 000000000001 with error code on request function "
                     "209 [Exceed rate number]"),
            std::string::npos)
      << log;
}

TEST_F(E2ePolling, TenThousandDevices) {
  std::string devices;
  for (int i = 1; i <= 10000; ++i)
    devices += std::to_string(i) + ";";
  s.Line().AddMeter("000000000001");
  Start(Query(Request(devices, {"02010100"}, Poll(60000))));
  s.Run(500);
  const std::vector<MeterLine::Request> requests = s.Line().Requests();
  ASSERT_FALSE(requests.empty());
  // Devices go in text order: 1, 10, 100, ...
  EXPECT_EQ(requests[0].address, "000000000001");
  EXPECT_EQ(requests[1].address, "000000000010");
  ASSERT_EQ(s.Unload(), 0);
}

TEST_F(E2ePolling, DataForUnknownDataSourcesIsIgnored) {
  s.Line().AddMeter("000000000001");
  Start(Query(Request("1", {"02010100"}, Poll(60000))));
  const MeterLine::Answer answer = MeterLine::Read("000000000001", 0x02010100, false);
  EXPECT_EQ(s.Receive(99, 1, answer.bytes), 0);
  EXPECT_EQ(s.PortEvent(99, 1, false), 0);
  EXPECT_TRUE(s.TakeRecords().empty());
}

TEST_F(E2ePolling, EventsAndDataBeforeLoadAndAfterUnload) {
  EXPECT_EQ(s.Event("PORT-OPEN", "COM1"), 0);
  EXPECT_EQ(s.Event("PORT-CLOSE"), 0);
  EXPECT_EQ(s.Event("GetFuncTypeList"), 0);
  EXPECT_EQ(s.Receive(1, 1, {0x68, 0x16}), -1);
  Start(Query(Request("1", {"02010100"}, Poll(60000))));
  ASSERT_EQ(s.Unload(), 0);
  EXPECT_EQ(s.Event("PORT-OPEN", "COM1"), 0);
  EXPECT_EQ(s.Event("ReadNow"), 0);
  EXPECT_EQ(s.Receive(1, 1, {0x68, 0x16}), -1);
  s.Run(300);
  EXPECT_TRUE(s.Line().Requests().empty());
}

}  // namespace
