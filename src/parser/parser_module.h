#pragma once
// What the request-scheduling layer needs from the plug-in data module that
// owns it. The module implements this; the parser never includes plug-in headers.
#include <cstdint>
#include <string>
#include <vector>

struct TPluginCallRec;
class TqonParamsList;
class TParsedDataList;
class TDataSourceScheduled;

// The module's roles. A call record's Roles byte and the module type carry
// one bit per role (RoleBit); the values cross the ABI and the settings.
enum class TRole : int {
  Request = 0,      // sends the requests to the devices
  Parsing = 1,      // parses what the devices answer
  Writing = 2,      // takes data in: a call without input logs "no data"
  Reporting = 3,    // also logs how the data call ended
  PassThrough = 5,  // without a data handler, the input is the output
};
constexpr int kRoleCount = 8;
constexpr uint8_t RoleBit(TRole role) {
  return static_cast<uint8_t>(1u << static_cast<int>(role));
}

// Log levels; a log line's first byte is the level plus one.
enum class TLogLevel : int {
  Error = 0,
  Warning = 1,  // failures and warnings
  Success = 2,
};

// Results of the exports, commands and host writes.
enum class TCallResult : int32_t {
  Done = 0,
  Refused = -1,
  NotAnswered = -2,
  Error = -3,
  PortNotOpen = -12,  // the host's answer to a write on a port it does not hold open
};
constexpr int32_t Code(TCallResult result) {
  return static_cast<int32_t>(result);
}

// One data source that the host announced with "SET-STATE".
struct TConfigDataSource {
  std::string Line;
  int32_t Number = 0;
  std::string Name;
  std::string Extra;
};

class IParserModule {
 public:
  virtual ~IParserModule() = default;

  virtual bool RoleEnabled(TRole role) const = 0;
  virtual void Log(TLogLevel level, const std::string& text, bool flag = false) = 0;

  // Adds a parsed result to the answer of the current data call.
  virtual void AppendResult(TPluginCallRec* rec, TqonParamsList* list, const std::string& text,
                            bool append) = 0;
  // Hands a list to the host outside a data call (output kind 9).
  virtual void OutputList(uint32_t data_source_no, uintptr_t client_id, TParsedDataList* list) = 0;
  // Writes to a client's port (kinds 129 and 130); the host's result, -1 without a host.
  virtual int32_t WriteData(uint32_t data_source_no, uintptr_t client_id, const uint8_t* bytes,
                            int32_t count) = 0;
  virtual int32_t WriteText(uint32_t data_source_no, uintptr_t client_id,
                            const std::string& text) = 0;
  virtual int AddStandardFields(TqonParamsList* list, const std::string& full_packet,
                                const std::string& client_name, const std::string& full_name,
                                const std::string& short_name, uintptr_t client_id,
                                uint32_t data_source_no, const std::string& packet) = 0;

  // The instance handle (the module's address), used to name template clients.
  virtual uintptr_t InstanceHandle() const = 0;
  // The data sources of the last "SET-STATE", in order.
  virtual std::vector<TConfigDataSource> ConfiguredDataSources() const = 0;
  // True when the instance was created from a call without a parameter list.
  virtual bool TemporaryLoad() const = 0;
  // The module's data sources, in creation order (FindDataSource searches from the end).
  virtual std::vector<TDataSourceScheduled*> DataSources() const = 0;
  // Whether a request that finally fails reaches the host as a record of its
  // own, with "QUALITY" and "REASON"; off unless the host asks for it.
  virtual bool QualityRecords() const { return false; }
};
