#include "parser/data_source.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "paramlist/parsed_data_list.h"
#include "paramlist/plugin_records.h"
#include "parser/cron/queue_schedule.h"
#include "parser/parser_module.h"
#include "platform/thread.h"
#include "platform/tick.h"

namespace {

constexpr uint32_t kSweepPeriod = 300;
// The longest the sweep sleeps while no client can expire.
constexpr uint64_t kMaxSweepSleep = 10000;
constexpr int kParseEndsBlock = -6;

// The received bytes of a data block; false for blocks that carry a value,
// a list or an event instead.
bool BlockBytes(const TPluginCallRec& block, const void** data, int32_t* length) {
  switch (block.Input.Kind) {
    case kKindDialogLength:
    case kKindStatus:
    case kKindUnload:
    case kKindEvent:
    case kKindListObject2:
    case kKindListIntf:
      return false;
    default:
      break;
  }
  if (block.Input.Data == 0 || block.Input.Size == 0 || block.Input.Size > INT32_MAX) return false;
  *data = reinterpret_cast<const void*>(block.Input.Data);
  *length = static_cast<int32_t>(block.Input.Size);
  return true;
}

}  // namespace

// ---- TDataSourceScheduled --------------------------------------------------

TDataSourceScheduled::TDataSourceScheduled(IParserModule* plugin)
    : Plugin(plugin), Queue(std::make_unique<TQueueControllerTimerEx>(this)) {}

TDataSourceScheduled::~TDataSourceScheduled() {
  Stop();
}

bool TDataSourceScheduled::IsStopped() {
  return !Plugin || !Plugin->RoleEnabled(TRole::Request);
}

bool TDataSourceScheduled::IsHeld() {
  return HoldFlag.load();
}

TQueueControllerTimer* TDataSourceScheduled::MasterQueue() {
  return Queue.get();
}

void TDataSourceScheduled::UpdateTimers(bool reset) {
  if (Queue) Queue->UpdateTimer(reset);
}

void TDataSourceScheduled::FireEvent(const std::string& name, bool all,
                                     const TqonParamsList* parameters) {
  if (Queue) Queue->FireEvent(name, all, parameters);
}

void TDataSourceScheduled::Stop() {
  if (!Queue) return;
  Queue->StopTimer();
  Queue->ClearScheduledEvents();
  Queue.reset();
}

// ---- TQueueControllerTimerEx -----------------------------------------------

TQueueControllerTimerEx::TQueueControllerTimerEx(TDataSourceScheduled* owner)
    : TQueueControllerTimer(owner) {}

TQueueControllerTimerEx::~TQueueControllerTimerEx() {
  // No tick or firing may ask this object anything once its destruction
  // has begun.
  StopTimer();
  ClearScheduledEvents();
}

bool TQueueControllerTimerEx::IsStopped() {
  TDataSourceScheduled* source = DataSource();
  return source ? source->IsStopped() : true;
}

bool TQueueControllerTimerEx::IsHeld() {
  TDataSourceScheduled* source = DataSource();
  return source && source->IsHeld();
}

// ---- TDataSourceScheduledWithClients ---------------------------------------

TDataSourceScheduledWithClients::TDataSourceScheduledWithClients(IParserModule* plugin)
    : TDataSourceScheduled(plugin),
      ClientClass(ParserClientClass<TCustomParserScheduledClient>()),
      Clients(std::make_unique<TCustomParserClientList>()) {
  SweepTimer = std::make_unique<TqonTimerEx>();
  SweepTimer->SetEnabled(false);
  SweepTimer->SetInterval(kSweepPeriod);
  SweepTimer->SetOnTimer([this](TqonTimerEx&) { Sweep(); });
  Queue->OnScheduledEvent = [this](TQueueController&, TScheduledEvent&, TBasicRequestItem& item) {
    PropagateDue(item);
  };
  Queue->SetTimerEnabled(false);
}

TDataSourceScheduledWithClients::~TDataSourceScheduledWithClients() {
  Stop();
  FreeTimer(SweepTimer);
  Clients.reset();
}

bool TDataSourceScheduledWithClients::IsStopped() {
  return true;
}

void TDataSourceScheduledWithClients::Stop() {
  if (Clients) {
    auto clients = Clients->ReadLocked();
    for (const auto& entry : *clients)
      if (TCustomParserScheduledClient* client = entry.second->AsScheduled())
        client->Queue->StopTimer();
  }
  TDataSourceScheduled::Stop();
}

void TDataSourceScheduledWithClients::FireEvent(const std::string& name, bool all,
                                                const TqonParamsList* parameters) {
  const THandleEventProcData data{name, all, parameters};
  auto clients = Clients->ReadLocked();
  clients->ForEach([&data](uintptr_t, TCustomParserClient* client, bool&) {
    if (TCustomParserScheduledClient* scheduled = client->AsScheduled())
      scheduled->Queue->FireEvent(data.Name, data.All, data.Parameters);
  });
}

void TDataSourceScheduledWithClients::UpdateClientQueues(bool reset, bool reload) {
  // Reloading reads the master list: it is locked before the client list.
  std::optional<TQueueState> master;
  if (reload && Queue) master.emplace(*Queue);
  auto clients = Clients->ReadLocked();
  for (const auto& entry : *clients) {
    TCustomParserScheduledClient* client = entry.second->AsScheduled();
    if (!client) continue;
    if (reload) client->LoadRequests();
    client->Queue->UpdateTimer(reset);
  }
  if (reload) WakeSweep();  // idle time-outs may have changed
}

void TDataSourceScheduledWithClients::PropagateDue(TBasicRequestItem& master_item) {
  // Runs under the master list's lock, which goes before the client list.
  const std::string& key = master_item.ScheduleKey;
  {
    auto clients = Clients->ReadLocked();
    for (const auto& entry : *clients) {
      TCustomParserScheduledClient* client = entry.second->AsScheduled();
      if (!client) continue;
      TQueueState state(*client->Queue);
      const bool held = client->Queue->IsHeld();
      for (TBasicRequestItem* item : state.Items()) {
        if (item->ScheduleKey != key) continue;
        // Two moments close together (a late timer) each get their send.
        if (item->Due && !held) item->DueAgain = true;
        item->Due = true;
      }
    }
  }
  master_item.Due = false;
}

void TDataSourceScheduledWithClients::WantSweep(bool on) {
  if (!SweepTimer) return;
  if (SweepTimer->OwnerThread() == platform::CurrentThreadId()) {
    sweep_wanted_ = on;
    SweepTimer->SetEnabled(on);
    return;
  }
  if (sweep_wanted_.exchange(on) != on) SweepTimer->SetEnabled(on);
}

void TDataSourceScheduledWithClients::Sweep() {
  if (sweeping_.exchange(true)) return;
  std::vector<std::unique_ptr<TCustomParserClient>> gone;
  try {
    // The write lock for the whole pass: the idle timers belong to the
    // receive path, which holds the list too.
    auto clients = Clients->WriteLocked();
    std::vector<TCustomParserClientList::Map::Key> keys;
    const uint64_t now = platform::Tick64();
    uint64_t next = now + kMaxSweepSleep;
    for (const auto& entry : *clients) {
      TCustomParserClient* client = entry.second.get();
      if (!client->ConnectionBound) continue;
      const uint32_t idle = client->IdleTimeout.load();
      if (!client->Expired && idle != kNeverExpire && client->IdleTimer.Elapsed(idle)) {
        client->Expired = true;
        client->IdleTimer.Restart();
        keys.push_back(entry.first);
      } else {
        client->IdleCheck();
        if (!client->Expired && idle != kNeverExpire)
          next = std::min(next, client->IdleTimer.Deadline);  // set by Elapsed
      }
    }
    for (TCustomParserClientList::Map::Key key : keys)
      gone.push_back(Clients->Take(*clients, key));
    WantSweep(!clients->Empty());
    // Until the first client can expire the passes would find nothing: the
    // timer sleeps to the first of its boundaries at or after that time.
    // New clients, events and reloads wake it.
    sweep_count_ = clients->Count();
    const bool sleep = !clients->Empty() && next > now + kSweepPeriod && platform::HasTick64() &&
                       SweepTimer->OwnerThread() == platform::CurrentThreadId();
    sweep_until_ = sleep ? next : 0;
    SweepTimer->Defer(sleep ? next : 0);
  } catch (...) {
  }
  // Outside the lock: freeing a client waits for a tick of its queue.
  TCustomParserClientList::DestroyClients(gone);
  sweeping_ = false;
}

void TDataSourceScheduledWithClients::WakeSweep() {
  if (sweep_until_.exchange(0) != 0 && SweepTimer) SweepTimer->Wake();
}

int TDataSourceScheduledWithClients::ProcessBlock(TPluginCallRec& block) noexcept {
  try {
    const bool is_event = block.Input.Kind == kKindEvent;
    const uintptr_t code = is_event ? block.Input.Data : 0;
    if (is_event && (code == kEventPortOpened || code == kEventPortClosed) &&
        Clients->HasTemplateClients.exchange(false))
      RemoveTemplateClients(*Clients);
    TClientLookup found = FindOrCreateClient(*Clients, block, this, ClientClass);
    if (found.Client) {
      if (is_event)
        ClientEvent(*found.Client, code);
      else
        ReceiveData(*found.Client, block);
    }
    // Under the list's lock, so that the sweep's own decision is not overtaken.
    WantSweep(!found.Lock->Empty());
    // A closed connection expires sooner; a new client may expire first.
    if (sweep_until_.load() != 0 && (is_event || found.Lock->Count() != sweep_count_.load()))
      WakeSweep();
  } catch (...) {
    try {
      WantSweep(Clients->Count() > 0);
    } catch (...) {
    }
  }
  return 0;
}

void TDataSourceScheduledWithClients::ClientEvent(TCustomParserClient& client, uintptr_t code) {
  auto buffer = client.Buffer->WriteLocked();
  if (code == kEventPortOpened) {
    client.HoldFlag = false;
    client.SetActive(true);
  } else if (code == kEventPortClosed) {
    client.SetActive(false);
    // Without new activity the client expires a tenth of its idle time-out
    // after the close.
    if (client.IdleTimer.IsClear()) client.IdleTimer.Restart();
    const double back = std::round(static_cast<double>(client.IdleTimeout.load()) * 0.9);
    client.IdleTimer.ShiftStart(-static_cast<int64_t>(back));
  }
}

void TDataSourceScheduledWithClients::ReceiveData(TCustomParserClient& client,
                                                  TPluginCallRec& block) {
  TFIFOStream& buffer = *client.Buffer;
  auto locked = buffer.WriteLocked();
  TCustomParserScheduledClient* scheduled = client.AsScheduled();
  if (scheduled && scheduled->StaleDataTimeout > 0 &&
      client.IdleTimer.Elapsed(scheduled->StaleDataTimeout))
    client.ClearBuffer();
  const void* data = nullptr;
  int32_t length = 0;
  if (BlockBytes(block, &data, &length)) client.AddData(data, length);

  // A protocol that asks again without taking anything may scan with state
  // of its own, but not for ever.
  uint32_t idle_rounds = 0;
  for (;;) {
    const uint32_t before = buffer.Count();
    bool again = false;
    const int n = client.FindFrame(again);
    if (n >= 0) {
      int code = 0;
      {
        std::unique_ptr<TParsedDataList> list = TakeRecordList();
        try {
          code = client.ParseFrame(*list);
          if (list->Count() > 0 && Plugin)
            Plugin->AppendResult(&block, list.get(), list->Text, true);
        } catch (...) {
          // The located frame goes also when it could not be decoded.
          buffer.Consume(static_cast<uint32_t>(n));
          client.ResetParser();
          throw;
        }
        ReturnRecordList(std::move(list));
      }
      buffer.Consume(static_cast<uint32_t>(n));
      client.ResetParser();
      if (code == kParseEndsBlock) break;
    }
    if (!again) break;
    const uint32_t after = buffer.Count();
    if (after == 0) break;
    idle_rounds = after < before ? 0 : idle_rounds + 1;
    if (idle_rounds > after + 1) break;
  }
}

std::unique_ptr<TParsedDataList> TDataSourceScheduledWithClients::TakeRecordList() {
  {
    std::lock_guard<std::mutex> lock(record_lists_lock_);
    if (!record_lists_.empty()) {
      std::unique_ptr<TParsedDataList> list = std::move(record_lists_.back());
      record_lists_.pop_back();
      return list;
    }
  }
  return std::make_unique<TParsedDataList>();
}

void TDataSourceScheduledWithClients::ReturnRecordList(std::unique_ptr<TParsedDataList> list) {
  constexpr size_t kKept = 4;
  list->Clear();
  std::lock_guard<std::mutex> lock(record_lists_lock_);
  if (record_lists_.size() < kKept) record_lists_.push_back(std::move(list));
}

// ---- template clients, look-ups --------------------------------------------

void CreateTemplateClients(IParserModule* plugin, const TParserClientFactory& client_class,
                           bool never_expire, uint32_t extra) {
  if (!plugin || !plugin->RoleEnabled(TRole::Request)) return;
  char name[64];
  int length = std::snprintf(name, sizeof(name), "%s%08" PRIXPTR, kTemplateClientPrefix,
                             plugin->InstanceHandle());
  if (extra != 0)
    std::snprintf(name + length, sizeof(name) - static_cast<size_t>(length), "_%08X",
                  static_cast<unsigned>(extra));
  for (const TConfigDataSource& configured : plugin->ConfiguredDataSources()) {
    TPluginCallRec block{};
    block.Size = kCallRecSize;
    block.Flags = 1;
    block.DataSourceNo = static_cast<uint32_t>(configured.Number);
    std::memcpy(block.ClientName, name, std::min(std::strlen(name), sizeof(block.ClientName)));
    auto* source =
        dynamic_cast<TDataSourceScheduledWithClients*>(FindDataSource(plugin, configured.Number));
    if (!source || source->Clients->Count() != 0) continue;
    TClientLookup found = FindOrCreateClient(*source->Clients, block, source, client_class);
    if (!found.Client) continue;
    {
      auto buffer = found.Client->Buffer->WriteLocked();
      if (never_expire) found.Client->IdleTimeout = kNeverExpire;
      found.Client->SetActive(true);
    }
    source->Clients->HasTemplateClients = true;
  }
}

int64_t LongestRequestPeriod(TDataSourceScheduled& source) {
  return source.Queue ? LongestRequestPeriod(*source.Queue) : 0;
}

TDataSourceScheduled* FindDataSource(IParserModule* plugin, int32_t number) {
  if (!plugin) return nullptr;
  const std::vector<TDataSourceScheduled*> sources = plugin->DataSources();
  for (auto it = sources.rbegin(); it != sources.rend(); ++it)
    if (*it && (number == -1 || (*it)->DataSourceNo == number)) return *it;
  return nullptr;
}
