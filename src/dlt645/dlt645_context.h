#pragma once
// What the DL/T 645 data sources and their clients share with the plug-in
// module that owns them. The module owns one and hands it to every data source.
#include <atomic>
#include <exception>
#include <string>

class IParserModule;
class TTextResources;

struct TDlt645Context {
  // The module's message formats (translated once at creation).
  const TTextResources* TextResources = nullptr;
  // Configured requests whose "Enabled" is false (listen-only); read by the frame search.
  std::atomic<int> ListenOnlyCount{0};
};

// What a client reads and sets of the port it belongs to; the data source
// derives from it, so a client needs to know no data source class.
struct TDlt645Port {
  explicit TDlt645Port(TDlt645Context* context) : Context(context) {}
  TDlt645Port(const TDlt645Port&) = delete;
  TDlt645Port& operator=(const TDlt645Port&) = delete;

  // Owned by the module, outlives the data source (may be null).
  TDlt645Context* const Context;
  // Set when the host answered a request write with -12 (port not open);
  // cleared by a later write answered otherwise, by "PORT-OPEN" and by a
  // connection that opens on the port (event block 257). A client that is a
  // connection of its own is held alone instead (its HoldFlag), until its
  // connection or the port opens again.
  std::atomic<bool> PortNotReady{false};
};

// The module's message formats, or the built-in ones when there is no
// context (a data source made without a module).
const TTextResources& Dlt645Texts(const TDlt645Context* context);

// The schedule-error line of the master queue and of every client queue:
// the offending time list or cron text, then the scheduler's message.
void LogScheduleError(IParserModule* plugin, const TDlt645Context* context, const std::string& info,
                      const std::exception& error);
