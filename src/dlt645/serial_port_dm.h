#pragma once
// The DL/T 645 data source: one host data source (a port, or a listening port
// with many connections) whose parser clients are TDlt645ParserClient.
#include <atomic>
#include <exception>
#include <string>

#include "parser/data_source.h"

class IParserModule;
class TTextResources;
struct TDlt645Context;

// The module's message formats, or the built-in ones when there is no
// context (a data source made without a module).
const TTextResources& Dlt645Texts(const TDlt645Context* context);

// The schedule-error line of the master queue and of every client queue:
// the offending time list or cron text, then the scheduler's message.
void LogScheduleError(IParserModule* plugin, const TDlt645Context* context, const std::string& info,
                      const std::exception& error);

class TSerialPortDM : public TDataSourceScheduledWithClients {
 public:
  // context: owned by the module, outlives the data source (may be null).
  TSerialPortDM(IParserModule* plugin, TDlt645Context* context);
  // Stops the master queue and every client queue before anything goes.
  ~TSerialPortDM() override;

  // Held while the port is known not to take data, so that a request is
  // kept for the moment the port opens instead of spending its attempts.
  bool IsHeld() override;

  const TTextResources& Texts() const { return Dlt645Texts(Context); }

  // The port opened: the port's hold and every connection's hold go. True
  // when anything was held.
  bool ReleaseHolds();

  TDlt645Context* const Context;
  // Set when the host answered a request write with -12 (port not open);
  // cleared by a later write answered otherwise, by "PORT-OPEN" and by a
  // connection that opens on the port (event block 257). A client that is a
  // connection of its own is held alone instead (its HoldFlag), until its
  // connection or the port opens again.
  std::atomic<bool> PortNotReady{false};
};
