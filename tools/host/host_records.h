#pragma once
// Records as lines: JSON objects (default) or CSV rows, value types kept.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host_config.h"
#include "host_options.h"
#include "hostkit/params_list.h"

namespace host {

// "2024-05-01T12:00:00", with ".mmm" when there are milliseconds.
std::string IsoDateTime(double days);
// The local zone's offset from UTC at `utc_seconds` (Unix time), in minutes.
int ZoneOffsetMinutes(int64_t utc_seconds);
// "+08:00", "-03:30", "+00:00".
std::string ZoneText(int offset_minutes);
// Now, local: "2024-05-01T12:00:00.107+08:00".
std::string IsoNowWithZone();
// The shortest decimal text that reads back as the same double.
std::string NumberText(double value);
// Upper-case hexadecimal bytes separated by blanks.
std::string HexBytes(const std::string& bytes);

// A field's value as the output formats show it (frames as hexadecimal).
std::string FieldText(const Field& field);
// A record's field by name; null when it has none.
const Field* FindField(const Record& record, const char* name);
// A field's text by name; empty when the record has none.
std::string FieldTextOf(const Record& record, const char* name);
// Whether a field is one of a record's own (time, port, client, device,
// function, frames) rather than a value.
bool IsRecordField(const std::string& name);

// The CSV columns of a run: of the plug-in's registered columns ("ITEMS":
// "Caption|NAME|type|extra" lines) those that are no function's, then the
// columns the plug-in registers for each configured function, in order.
std::vector<std::string> CsvColumns(const std::string& items_text,
                                    const std::vector<ConfiguredFunction>& functions);
// The last CSV column: whatever a record holds outside the fixed columns.
constexpr const char* kOtherFieldsColumn = "OTHER_FIELDS";

class RecordWriter {
 public:
  RecordWriter(std::FILE* out, OutputFormat format) : out_(out), format_(format) {}
  // Fixes the CSV columns before the first record; without them the first
  // record's fields are the columns. Either way one header per run.
  void SetColumns(std::vector<std::string> columns) { columns_ = std::move(columns); }
  void Write(const Record& record);
  uint64_t Written() const { return written_; }

  // One record as a line without its line end.
  static std::string JsonLine(const Record& record);
  // A CSV row under fixed columns, fields outside them as NAME=value pairs
  // separated by ';' in the last column.
  static std::string CsvRow(const Record& record, const std::vector<std::string>& columns);
  // The values only, after the time, device and function.
  static std::string TextLine(const Record& record);

 private:
  std::FILE* out_;
  OutputFormat format_;
  std::vector<std::string> columns_;  // CSV, without the last column
  bool header_written_ = false;
  uint64_t written_ = 0;
};

}  // namespace host
