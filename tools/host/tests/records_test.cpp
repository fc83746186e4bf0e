#include <gtest/gtest.h>

#include "host_records.h"
#include "platform/datetime.h"
#include "platform/strings.h"

namespace {

using namespace host;

Field F(const char* name, Value v) {
  return Field{name, 0, std::move(v)};
}

// A frame as the plug-in hands it: its bytes as a string value.
Value FrameValue(const std::string& bytes) {
  Value v;
  v.out()->vt = platform::VT_BSTR;
  v.out()->bstrVal = platform::AllocBstrFromAnsi(bytes);
  return v;
}

TEST(HostRecords, JsonKeepsTheValueTypes) {
  int64_t secs = 0;
  ASSERT_TRUE(platform::TryEncodeDateTime(2024, 5, 1, 12, 0, 30, &secs));
  Value u;
  u.out()->vt = platform::VT_UI4;
  u.out()->ulVal = 0x02010100;
  const Record r = {F("DEVICE_ID", Value::Text("000000000001")),
                    F("DATA_TYPE_ID", std::move(u)),
                    F("VOLTAGE_A", Value::Double(223.2)),
                    F("POWER", Value::Double(-12.95)),
                    F("COUNT", Value::Int(-3)),
                    F("TIMESTAMP1", Value::Date(static_cast<double>(secs) / 86400.0)),
                    F("OK", Value::Bool(true)),
                    F("NOTE", Value::Text("a\"b\\c\n")),
                    F("NONE", Value::Null())};
  EXPECT_EQ(RecordWriter::JsonLine(r),
            "{\"DEVICE_ID\":\"000000000001\",\"DATA_TYPE_ID\":33620224,\"VOLTAGE_A\":223.2,"
            "\"POWER\":-12.95,\"COUNT\":-3,\"TIMESTAMP1\":\"2024-05-01T12:00:30\",\"OK\":true,"
            "\"NOTE\":\"a\\\"b\\\\c\\n\",\"NONE\":null}");
}

TEST(HostRecords, PacketsAreHex) {
  // An answer frame is never valid UTF-8 (0x91 follows 0x68); every byte survives.
  const std::string frame(
      "\x68\x01\x00\x00\x00\x00\x00\x68\x91\x06\x33\x34\x34\x35\x65\x55\xB6\x16", 18);
  const Record r = {F("FULL_DATA_PACKET", FrameValue(frame)), F("OTHER", FrameValue("hi"))};
  EXPECT_EQ(RecordWriter::JsonLine(r),
            "{\"FULL_DATA_PACKET\":\"68 01 00 00 00 00 00 68 91 06 33 34 34 35 65 55 B6 16\","
            "\"OTHER\":\"hi\"}");
}

TEST(HostRecords, NumbersAndTimesReadBackExactly) {
  EXPECT_EQ(NumberText(0.1), "0.1");
  EXPECT_EQ(NumberText(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(NumberText(12345.6789), "12345.6789");
  EXPECT_EQ(NumberText(-0.0001), "-0.0001");
  EXPECT_EQ(IsoDateTime(0.0), "1899-12-30T00:00:00");
  EXPECT_EQ(IsoDateTime(1.5 + 0.001 / 86400), "1899-12-31T12:00:00.001");
  EXPECT_EQ(ZoneText(0), "+00:00");
  EXPECT_EQ(ZoneText(8 * 60), "+08:00");
  EXPECT_EQ(ZoneText(-(3 * 60 + 30)), "-03:30");
}

std::string WrittenCsv(const std::vector<std::string>& columns,
                       const std::vector<Record>& records) {
  std::FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  if (!f) return {};
  RecordWriter w(f, OutputFormat::kCsv);
  if (!columns.empty()) w.SetColumns(columns);
  for (const Record& r : records)
    w.Write(r);
  std::rewind(f);
  char buf[512] = {};
  const size_t n = std::fread(buf, 1, sizeof(buf) - 1, f);
  std::fclose(f);
  return std::string(buf, n);
}

TEST(HostRecords, CsvHasOneHeaderAndKeepsFieldsOutsideItsColumns) {
  std::vector<Record> records;
  records.push_back({F("A", Value::Int(1)), F("B", Value::Text("x,y"))});
  records.push_back({F("B", Value::Text("say \"hi\"")), F("A", Value::Int(2))});
  records.push_back({F("A", Value::Int(3)), F("C", Value::Double(0.5)), F("D", Value::Int(4))});
  records.push_back({});
  // Without fixed columns the first record's are the run's.
  EXPECT_EQ(WrittenCsv({}, records),
            "A,B,OTHER_FIELDS\n1,\"x,y\",\n2,\"say \"\"hi\"\"\",\n3,,C=0.5;D=4\n");
  EXPECT_EQ(WrittenCsv({"C", "A", "B"}, records),
            "C,A,B,OTHER_FIELDS\n,1,\"x,y\",\n,2,\"say \"\"hi\"\"\",\n0.5,3,,D=4\n");
}

TEST(HostRecords, CsvColumnsAreTheRecordsOwnAndTheConfiguredFunctions) {
  // As the plug-in registers them: its own columns, then every function's.
  const std::string items =
      "Time|DATE_TIME_STAMP|DateTime|\r\nDevice ID|DEVICE_ID|String|\r\n"
      "1, Voltage|VOLTAGE1|Float|0\r\n2, Voltage|VOLTAGE2|Float|0\r\n"
      "Voltage A|VOLTAGE_A|Float|0\r\nDevice ID|DEVICE_ID|String|";
  // 1997 functions and rates too, each once, in the configuration's order.
  EXPECT_EQ(CsvColumns(items, {{0x8000B611, 0}, {0x0201FF00, 0}, {0x00010000, 2}, {0x8000B611, 0}}),
            (std::vector<std::string>{"DATE_TIME_STAMP", "DEVICE_ID", "PHASE_A_VOLTAGE", "VOLTAGE1",
                                      "VOLTAGE2", "VOLTAGE3", "TOTAL_POSITIVE_ACTIVE2"}));
  // A plug-in that registers nothing leaves the first record to decide.
  EXPECT_TRUE(CsvColumns("", {{0x0201FF00, 0}}).empty());
}

}  // namespace

namespace {

TEST(HostRecords, TextShowsTheValuesAfterDeviceAndFunction) {
  int64_t secs = 0;
  ASSERT_TRUE(platform::TryEncodeDateTime(2024, 5, 1, 8, 9, 10, &secs));
  const Record r = {F("FULL_DATA_PACKET", FrameValue("\x68\x91")),
                    F("DATE_TIME_STAMP", Value::Date(static_cast<double>(secs) / 86400.0)),
                    F("DATA_SOURCE_ID", Value::Int(1)),
                    F("DATA_SOURCE_NAME", Value::Text("tcp://127.0.0.1:9000")),
                    F("DEVICE_ID", Value::Text("000000000002")),
                    F("DATA_TYPE_ID_STR", Value::Text("0203FF00")),
                    F("INSTANT_ACTIVE_POWER1", Value::Double(-1.5)),
                    F("TIMESTAMP1", Value::Date(0))};
  EXPECT_EQ(RecordWriter::TextLine(r),
            "08:09:10 tcp://127.0.0.1:9000 000000000002 0203FF00 INSTANT_ACTIVE_POWER1=-1.5 "
            "TIMESTAMP1=1899-12-30T00:00:00");
}

}  // namespace
