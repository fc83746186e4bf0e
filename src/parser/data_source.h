#pragma once
// Scheduled data sources: one host data source inside the plug-in, with the
// master request list and its triggers, the parser clients (each with its
// own copy of the requests) and the sweep that removes the clients of closed
// connections.
//
// Lock order (every path takes them in this order, skipping what it does
// not need): master request list, master StateLock, client list, a client's
// Buffer, a client's request list, its StateLock. A client is made and freed
// with no lock of the list held; queue handlers take neither the client list
// nor the master list.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "parser/basic_request_item.h"
#include "parser/client_list.h"
#include "parser/queue_controller.h"
#include "threading/qon_timer_ex.h"

struct TPluginCallRec;
class IParserModule;
class TqonParamsList;

// What FireEvent hands to every client.
struct THandleEventProcData {
  std::string Name;
  bool All = false;
  const TqonParamsList* Parameters = nullptr;
};

class TQueueControllerTimerEx;

class TDataSourceScheduled : public IParserClientOwner {
 public:
  explicit TDataSourceScheduled(IParserModule* plugin);
  virtual ~TDataSourceScheduled();
  TDataSourceScheduled(const TDataSourceScheduled&) = delete;
  TDataSourceScheduled& operator=(const TDataSourceScheduled&) = delete;

  // False while the plug-in exists and its request role is on.
  bool IsStopped() override;
  bool IsHeld() override;
  IParserModule* Module() const override { return Plugin; }
  TQueueControllerTimer* MasterQueue() override;
  virtual void UpdateTimers(bool reset);
  virtual void FireEvent(const std::string& name, bool all, const TqonParamsList* parameters);

  // Frees the master queue (its timer and scheduled events stop first). No
  // data call may run on the data source meanwhile.
  virtual void Stop();

  IParserModule* const Plugin;
  std::unique_ptr<TQueueControllerTimerEx> Queue;
  int32_t DataSourceNo = 0;
  std::string PortName;
  std::string PortInfo;
  std::atomic<bool> HoldFlag{false};
};

// The controller of a data source: it asks the data source whether it may run.
class TQueueControllerTimerEx : public TQueueControllerTimer {
 public:
  explicit TQueueControllerTimerEx(TDataSourceScheduled* owner);
  ~TQueueControllerTimerEx() override;

  bool IsStopped() override;
  bool IsHeld() override;

  TDataSourceScheduled* DataSource() const { return static_cast<TDataSourceScheduled*>(Owner); }
};

class TDataSourceScheduledWithClients : public TDataSourceScheduled {
 public:
  explicit TDataSourceScheduledWithClients(IParserModule* plugin);
  ~TDataSourceScheduledWithClients() override;

  // The master queue never sends: the clients do.
  bool IsStopped() override;
  // Every client's queue.
  void FireEvent(const std::string& name, bool all, const TqonParamsList* parameters) override;
  // The clients' queues stop ticking too: a descendant's destructor calls
  // this before its own parts go.
  void Stop() override;

  // The receive path for one host data block. Never raises; always 0.
  int ProcessBlock(TPluginCallRec& block) noexcept;
  // For every client: with reload its requests copied again; then its timer
  // updated (with reset its rotation starts again).
  void UpdateClientQueues(bool reset, bool reload);
  // The master queue's scheduled-event handler: the clients' copies of the
  // item become due.
  void PropagateDue(TBasicRequestItem& master_item);
  // Removes the connection-bound clients that stayed idle too long. A pass
  // that finds none due lets the timer sleep until the first can be.
  void Sweep();

  TParserClientFactory ClientClass;
  std::unique_ptr<TCustomParserClientList> Clients;
  std::unique_ptr<TqonTimerEx> SweepTimer;

 private:
  void ClientEvent(TCustomParserClient& client, uintptr_t code);
  void ReceiveData(TCustomParserClient& client, TPluginCallRec& block);
  // The sweep runs exactly while there are clients. From another thread the
  // change is posted, so it is asked for only when the wish changes.
  void WantSweep(bool on);

  // The sweep's timer is brought back from its sleep to the next boundary.
  void WakeSweep();

  std::atomic<bool> sweep_wanted_{false};
  std::atomic<bool> sweeping_{false};
  std::atomic<uint64_t> sweep_until_{0};  // the sweep sleeps until then; 0: it does not
  std::atomic<int> sweep_count_{0};       // clients the last pass saw

  // Record lists reused from frame to frame (their items are kept for the
  // next record), a few for the threads that deliver data at the same time.
  std::unique_ptr<TParsedDataList> TakeRecordList();
  void ReturnRecordList(std::unique_ptr<TParsedDataList> list);
  std::mutex record_lists_lock_;
  std::vector<std::unique_ptr<TParsedDataList>> record_lists_;
};

// One template client per configured data source whose client list is empty,
// named "__UT__" + the instance handle (+ "_" + extra) in hexadecimal. Only
// while the plug-in's request role is on.
void CreateTemplateClients(IParserModule* plugin, const TParserClientFactory& client_class,
                           bool never_expire, uint32_t extra);

// The longest period of the master requests in ms; 0 when there is none.
int64_t LongestRequestPeriod(TDataSourceScheduled& source);

// The last data source of the plug-in with that number (-1: any); null when
// there is none.
TDataSourceScheduled* FindDataSource(IParserModule* plugin, int32_t number);
