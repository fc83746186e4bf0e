#pragma once
// The module's custom commands, which a host offers its user and calls
// through ExecutePluginCommand: broadcast time synchronisation, reading the
// address of the meter on a line, and one reading now. They are sent on a
// client between its queue's requests: never while an answer is awaited,
// and the queue's minimum interval holds before and after them.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dlt645/custom_exchange.h"

class IParserModule;
class TSerialPortDM;
class TqonPluginCustomCmdList;

// The command names, in the list GetModuleInfo reports.
constexpr char kCommandSyncTime[] = "SYNC-TIME";
constexpr char kCommandReadAddress[] = "READ-ADDRESS";
constexpr char kCommandReadNow[] = "READ-NOW";
void AddCustomCommands(TqonPluginCustomCmdList& list);
bool IsCustomCommand(const std::string& command);

// What a command reads of its call: the text of a parameter, false when
// it is absent.
using TCommandParam = std::function<bool(const std::string& name, std::string* value)>;
struct TCommandAnswer {
  int32_t Code = 0;    // 0 done, -1 refused or failed (Result says why), -12 port not open
  std::string Result;  // for "RESULT"
};

// Runs one of the commands on the module's data sources. requests_allowed:
// the module's request role is on.
TCommandAnswer RunCustomCommand(IParserModule* module, const std::vector<TSerialPortDM*>& sources,
                                bool requests_allowed, const std::string& command,
                                const TCommandParam& param);
