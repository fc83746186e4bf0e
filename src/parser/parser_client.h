#pragma once
// Parser clients: one per host client identifier (a port or one connection of
// a port). A client owns the receive buffer of that client, the little parser
// state that lives between frames, its idle timer and, in its scheduled form,
// its own request queue.
//
// Who guards what:
// - identity (ClientId, ClientName, ClientHost, IsTemplate, ConnectionBound)
//   changes only under the client list's write lock and the client queue's
//   StateLock; read it under either (the receive path holds the list, the
//   queue's handlers hold StateLock);
// - IdleTimer, FrameStart, the scratch strings and Expired belong to the
//   receive path: the client list (read) and Buffer's write lock, or the
//   client list's write lock;
// - Active and IdleTimeout are atomic.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "parser/queue_controller.h"
#include "threading/fifo_stream.h"
#include "threading/timeout.h"

struct TPluginCallRec;
class TBasicRequestItem;
class TParsedDataList;
class TDataSourceScheduledWithClients;
class TCustomParserScheduledClient;

// What a client asks of its data source (the queue owner's state, the
// module, the master queue), so that a client knows no data source class.
class IParserClientOwner : public IQueueOwner {
 public:
  // The master queue whose requests the clients copy; null once stopped.
  virtual TQueueControllerTimer* MasterQueue() = 0;
};

// The base of plug-in parts that serve one of several instances; parser
// clients pass 0 and use nothing else of it.
class TqonPluginMulti {
 public:
  explicit TqonPluginMulti(int32_t multi) : Multi(multi) {}
  virtual ~TqonPluginMulti() = default;
  TqonPluginMulti(const TqonPluginMulti&) = delete;
  TqonPluginMulti& operator=(const TqonPluginMulti&) = delete;

  int32_t Multi;
};

constexpr uint32_t kNeverExpire = 4294967295u;
constexpr char kTemplateClientPrefix[] = "__UT__";

// The client name of a call record: at most 50 characters, up to the first 0.
std::string BlockClientName(const TPluginCallRec& block);
// The name cut before its last "." or ":"; empty when it has neither.
std::string ClientHostOf(std::string_view name);

class TCustomParserClient : public TqonPluginMulti, public IQueueOwner {
 public:
  // buffer_size 0: 16384 bytes.
  TCustomParserClient(IParserClientOwner* owner, const TPluginCallRec& block,
                      uint32_t buffer_size = 0);
  ~TCustomParserClient() override;

  virtual bool GetActive();
  virtual void SetActive(bool value);
  // FrameStart again, scratch strings cleared, IdleTimer restarted.
  virtual void ResetParser();
  virtual void ClearBuffer();
  virtual void AddText(const std::string& bytes);
  // Called by the idle sweep for a connection-bound client that stays.
  virtual void IdleCheck();
  virtual void AddData(const void* data, int32_t length);
  virtual void AfterData();
  virtual void LoadRequests();
  virtual std::unique_ptr<TBasicRequestItem> CreateRequestItem();
  // Both run while the caller holds Buffer's write lock and read the bytes
  // in place (Buffer->Data(), Buffer->Count()). FindFrame: -1 when no frame
  // can be taken now, else the bytes to remove once ParseFrame has run; it
  // may set `again`. ParseFrame: adds the frame's values to the list; -6 ends
  // the data block.
  virtual int FindFrame(bool& again);
  virtual int ParseFrame(TParsedDataList& list);

  // Run by the client list right after construction (virtual operations of
  // descendants work from here on) and right before destruction.
  virtual void AfterConstruction();
  virtual void BeforeDestruction();
  // This client as a scheduled client, or null.
  virtual TCustomParserScheduledClient* AsScheduled() { return nullptr; }

  // ClientId, ClientName, ClientHost and IsTemplate from the block.
  void InitFromBlock(const TPluginCallRec& block);

  // As its queue's owner. Stopped without a data source or while the
  // module's request role is off: a parse-only instance must never become a
  // second master on the bus. Held by its own hold, or while active by its
  // data source's.
  bool IsStopped() override;
  bool IsHeld() override;
  IParserModule* Module() const override;

  IParserClientOwner* const Owner;
  uint32_t BufferSize;
  std::unique_ptr<TFIFOStream> Buffer;
  uintptr_t ClientId = 0;
  std::string ClientName;
  std::string ClientHost;
  bool Expired = false;
  uint32_t DataSourceNo = 0;
  std::atomic<bool> Active{false};
  bool FrameStart = true;
  bool ConnectionBound = false;
  // Holds this client's queue alone (a connection of its own that is known
  // not to take data), where the data source's hold would stop every
  // connection of the port.
  std::atomic<bool> HoldFlag{false};
  bool IsTemplate = false;
  std::string ParserScratch1;
  std::string ParserScratch2;
  std::atomic<uint32_t> IdleTimeout{60000};  // kNeverExpire: never
  TqonTimeout IdleTimer;
  TqonTimeout AuxTimer;
};

// The controller of one parser client. It never sends while the plug-in's
// request role is off.
class TQueueControllerTimerClients : public TQueueControllerTimer {
 public:
  explicit TQueueControllerTimerClients(TCustomParserClient* owner);
  ~TQueueControllerTimerClients() override;

  bool IsStopped() override;
  bool IsHeld() override;

  TCustomParserClient* Client() const { return static_cast<TCustomParserClient*>(Owner); }
};

// A client with its own request queue, a copy of its data source's requests.
class TCustomParserScheduledClient : public TCustomParserClient {
 public:
  TCustomParserScheduledClient(IParserClientOwner* owner, const TPluginCallRec& block,
                               uint32_t buffer_size = 0);
  ~TCustomParserScheduledClient() override;

  // Opening restarts the queue.
  void SetActive(bool value) override;
  // Copies the data source's requests and minimum interval into Queue; a
  // connection-bound client then idles at least 1.3 request periods.
  void LoadRequests() override;
  std::unique_ptr<TBasicRequestItem> CreateRequestItem() override;
  int FindFrame(bool& again) override;
  int ParseFrame(TParsedDataList& list) override;
  void AfterConstruction() override;
  void BeforeDestruction() override;
  TCustomParserScheduledClient* AsScheduled() override { return this; }

  uint32_t StaleDataTimeout = 15000;  // ms; 0: stale bytes are kept
  std::unique_ptr<TQueueControllerTimerClients> Queue;
};

// Makes a client for a data source and the data block that first names it
// (the client list runs AfterConstruction).
using TParserClientFactory = std::function<std::unique_ptr<TCustomParserClient>(
    TDataSourceScheduledWithClients* owner, const TPluginCallRec& block)>;

template <class T>
TParserClientFactory ParserClientClass() {
  return [](TDataSourceScheduledWithClients* owner, const TPluginCallRec& block) {
    return std::unique_ptr<TCustomParserClient>(std::make_unique<T>(owner, block));
  };
}
