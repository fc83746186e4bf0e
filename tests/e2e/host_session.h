#pragma once
// One plug-in instance driven as a data-logging host drives it: settings in
// an INI file, "LOAD", "SET-STATE", port events, the host's timers pumped and
// the meters' answers handed back with ProcessData. Records come back in
// ProcessData's Output and, for groups a time-out finished, through
// "Telvano_SendDataEx" with kind 9.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "meter_line.h"
#include "plugin_host.h"

namespace host {

struct DataRecord {
  bool from_output = false;  // kind 9 rather than ProcessData's Output
  uint32_t data_source_no = 0;
  uintptr_t client_id = 0;
  std::vector<Field> items;
  std::string packet;  // the text that came with the record

  const Field* Find(const std::string& name) const;
  bool Has(const std::string& name) const { return Find(name) != nullptr; }
  std::string Text(const std::string& name) const;
  double Number(const std::string& name) const;
};

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Instance& Plugin() { return instance_; }
  MeterLine& Line() { return line_; }
  // Whether the host's clock is virtual (POSIX) rather than the real one.
  static bool VirtualTime();

  const std::string& IniFile() const { return ini_; }
  // Writes the configuration where "LOAD" tells the instance to look.
  bool Store(const std::string& query_xml, double min_interval = 0);
  int32_t Load(uint32_t config_id = 0);
  int32_t Unload();
  // Data sources as "number;name;long name" lines.
  int32_t SetState(uint8_t roles, int32_t on, const std::string& sources = "1;COM1;Meter line");
  int32_t Event(const std::string& type, const std::string& port = "");
  // The port of a client opened or closed (an event block of ProcessData).
  int32_t PortEvent(uint32_t data_source_no, uintptr_t client_id, bool opened);
  // Received bytes of a client.
  int32_t Receive(uint32_t data_source_no, uintptr_t client_id, const std::vector<uint8_t>& bytes);
  // Runs the host for ms milliseconds: the clock, the library's timers and
  // the delivery of every answer the meters gave.
  void Run(uint32_t ms);
  // Hands the meters' pending answers to the library.
  void Deliver();

  std::vector<DataRecord> TakeRecords();
  // The log since the last call (lines separated by CR LF, level bytes kept).
  std::string TakeLog();
  int32_t LastDataResult() const { return last_result_; }

 private:
  void Collect();
  std::string PortName(uint32_t data_source_no) const;

  std::string folder_;
  std::string ini_;
  MeterLine line_;
  Instance instance_;
  std::map<uint32_t, std::string> port_names_;
  std::vector<DataRecord> records_;
  int32_t last_result_ = 0;
};

}  // namespace host
