#pragma once
// Records as lines: JSON objects (default) or CSV rows, value types kept.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host_options.h"
#include "hostkit/params_list.h"

namespace host {

// "2024-05-01T12:00:00", with ".mmm" when there are milliseconds.
std::string IsoDateTime(double days);
// The shortest decimal text that reads back as the same double.
std::string NumberText(double value);
// Upper-case hexadecimal bytes separated by blanks.
std::string HexBytes(const std::string& bytes);

class RecordWriter {
 public:
  RecordWriter(std::FILE* out, OutputFormat format) : out_(out), format_(format) {}
  void Write(const Record& record);
  uint64_t Written() const { return written_; }

  // One record as a line without its line end.
  static std::string JsonLine(const Record& record);
  // The CSV header of a record, and its row.
  static std::string CsvHeader(const Record& record);
  static std::string CsvRow(const Record& record);
  // The values only, after the time, device and function.
  static std::string TextLine(const Record& record);

 private:
  std::FILE* out_;
  OutputFormat format_;
  std::vector<std::string> columns_;  // of the last CSV header written
  uint64_t written_ = 0;
};

}  // namespace host
