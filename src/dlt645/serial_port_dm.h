#pragma once
// The DL/T 645 data source: one host data source (a port, or a listening port
// with many connections) whose parser clients are TDlt645ParserClient.
#include "dlt645/dlt645_context.h"
#include "parser/data_source.h"

class IParserModule;

class TSerialPortDM : public TDataSourceScheduledWithClients, public TDlt645Port {
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
};
