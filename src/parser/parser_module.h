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

  // RoleState[role]; role 0 is the request role, role 1 the parsing role.
  virtual bool RoleEnabled(int role) const = 0;
  // Levels: 0 errors, 1 failures and warnings, 2 success.
  virtual void Log(int level, const std::string& text, bool flag = false) = 0;

  // Adds a parsed result to the answer of the current data call.
  virtual void AppendResult(TPluginCallRec* rec, TqonParamsList* list, const std::string& text,
                            bool append) = 0;
  // Hands a list to the host outside a data call (output kind 9).
  virtual void OutputList(uint32_t data_source_no, uintptr_t client_id,
                          TParsedDataList* list) = 0;
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
};
