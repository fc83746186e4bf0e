#include "dlt645/serial_port_dm.h"

#include "dlt645/dlt645_context.h"
#include "dlt645/dlt645_parser_client.h"
#include "dlt645/text_resources.h"
#include "parser/parser_module.h"

const TTextResources& Dlt645Texts(const TDlt645Context* context) {
  if (context && context->TextResources) return *context->TextResources;
  static const TTextResources built_in(nullptr);
  return built_in;
}

void LogScheduleError(IParserModule* plugin, const TDlt645Context* context, const std::string& info,
                      const std::exception& error) {
  if (!plugin) return;
  plugin->Log(TLogLevel::Warning,
              Dlt645Texts(context).ParseExpression(info + ", " + error.what(), 1));
}

TSerialPortDM::TSerialPortDM(IParserModule* plugin, TDlt645Context* context)
    : TDataSourceScheduledWithClients(plugin), Context(context) {
  ClientClass = ParserClientClass<TDlt645ParserClient>();
  Queue->RequestIdValue = 0;
  // Time lists and cron texts are built on this queue: their errors must
  // reach the log as the clients' do.
  Queue->OnError = [plugin, context](TQueueController&, const std::string&,
                                     const std::exception& error, const std::string& info) {
    LogScheduleError(plugin, context, info, error);
  };
}

TSerialPortDM::~TSerialPortDM() {
  Stop();
}

bool TSerialPortDM::ReleaseHolds() {
  bool held = PortNotReady.exchange(false);
  auto clients = Clients->ReadLocked();
  for (const auto& entry : *clients)
    held = entry.second->HoldFlag.exchange(false) || held;
  return held;
}

bool TSerialPortDM::IsHeld() {
  return TDataSourceScheduledWithClients::IsHeld() || PortNotReady.load();
}
