#include "parser/parser_client.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "paramlist/parsed_data_list.h"
#include "paramlist/plugin_records.h"
#include "parser/basic_request_item.h"
#include "parser/cron/queue_schedule.h"
#include "parser/parser_module.h"

namespace {
constexpr uint32_t kDefaultBufferSize = 16384;
constexpr uint32_t kDiscardStep = 64;
constexpr uint32_t kDefaultIdleTimeout = 60000;
}  // namespace

std::string BlockClientName(const TPluginCallRec& block) {
  const char* name = block.ClientName;
  const size_t length = strnlen(name, sizeof(block.ClientName));
  return std::string(name, length);
}

std::string ClientHostOf(std::string_view name) {
  const size_t cut = name.find_last_of(".:");
  return cut == std::string_view::npos ? std::string() : std::string(name.substr(0, cut));
}

// ---- TCustomParserClient ---------------------------------------------------

TCustomParserClient::TCustomParserClient(IParserClientOwner* owner, const TPluginCallRec& block,
                                         uint32_t buffer_size)
    : TqonPluginMulti(0),
      Owner(owner),
      BufferSize(buffer_size != 0 ? buffer_size : kDefaultBufferSize),
      Buffer(std::make_unique<TFIFOStream>(BufferSize, kDiscardStep, true)),
      DataSourceNo(block.DataSourceNo),
      ConnectionBound(block.Input.Kind == kKindEvent) {
  InitFromBlock(block);
}

TCustomParserClient::~TCustomParserClient() = default;

void TCustomParserClient::InitFromBlock(const TPluginCallRec& block) {
  ClientId = block.ClientId;
  ClientName = BlockClientName(block);
  ClientHost = ClientHostOf(ClientName);
  IsTemplate = ClientName.compare(0, 6, kTemplateClientPrefix) == 0;
}

bool TCustomParserClient::IsStopped() {
  if (!Owner) return true;
  IParserModule* plugin = Owner->Module();
  return !plugin || !plugin->RoleEnabled(TRole::Request);
}

bool TCustomParserClient::IsHeld() {
  return HoldFlag.load() || (GetActive() && Owner && Owner->IsHeld());
}

IParserModule* TCustomParserClient::Module() const {
  return Owner ? Owner->Module() : nullptr;
}

bool TCustomParserClient::GetActive() {
  return Active.load();
}

void TCustomParserClient::SetActive(bool value) {
  Active = value;
  IdleTimer.Restart();
}

void TCustomParserClient::ResetParser() {
  FrameStart = true;
  ParserScratch1.clear();
  ParserScratch2.clear();
  IdleTimer.Restart();
}

void TCustomParserClient::ClearBuffer() {
  Buffer->Clear();
}

void TCustomParserClient::AddText(const std::string& bytes) {
  if (bytes.empty()) return;
  Buffer->Write(bytes.data(), static_cast<uint32_t>(std::min<size_t>(bytes.size(), UINT32_MAX)));
  if (!Expired) IdleTimer.Restart();
}

void TCustomParserClient::IdleCheck() {}

void TCustomParserClient::AddData(const void* data, int32_t length) {
  if (length <= 0 || !data) return;
  Buffer->Write(data, static_cast<uint32_t>(length));
  if (!Expired) IdleTimer.Restart();
}

void TCustomParserClient::AfterData() {}

void TCustomParserClient::LoadRequests() {}

std::unique_ptr<TBasicRequestItem> TCustomParserClient::CreateRequestItem() {
  return std::make_unique<TBasicRequestItem>();
}

int TCustomParserClient::FindFrame(bool&) {
  return -1;
}

int TCustomParserClient::ParseFrame(TParsedDataList&) {
  return 0;
}

void TCustomParserClient::AfterConstruction() {}

void TCustomParserClient::BeforeDestruction() {}

// ---- TQueueControllerTimerClients ------------------------------------------

TQueueControllerTimerClients::TQueueControllerTimerClients(TCustomParserClient* owner)
    : TQueueControllerTimer(owner) {}

TQueueControllerTimerClients::~TQueueControllerTimerClients() {
  StopTimer();
}

bool TQueueControllerTimerClients::IsStopped() {
  TCustomParserClient* client = Client();
  return client ? client->IsStopped() : true;
}

bool TQueueControllerTimerClients::IsHeld() {
  TCustomParserClient* client = Client();
  return client && client->IsHeld();
}

// ---- TCustomParserScheduledClient ------------------------------------------

TCustomParserScheduledClient::TCustomParserScheduledClient(IParserClientOwner* owner,
                                                           const TPluginCallRec& block,
                                                           uint32_t buffer_size)
    : TCustomParserClient(owner, block, buffer_size),
      Queue(std::make_unique<TQueueControllerTimerClients>(this)) {}

TCustomParserScheduledClient::~TCustomParserScheduledClient() {
  // Normally done by BeforeDestruction; a tick must not reach a client
  // whose destruction has begun.
  if (Queue) Queue->StopTimer();
}

void TCustomParserScheduledClient::AfterConstruction() {
  TCustomParserClient::AfterConstruction();
  LoadRequests();
}

void TCustomParserScheduledClient::BeforeDestruction() {
  if (Queue) Queue->StopTimer();
  TCustomParserClient::BeforeDestruction();
}

void TCustomParserScheduledClient::SetActive(bool value) {
  const bool was_active = GetActive();
  TCustomParserClient::SetActive(value);
  if (value && !was_active) Queue->Restart();
}

std::unique_ptr<TBasicRequestItem> TCustomParserScheduledClient::CreateRequestItem() {
  return std::make_unique<TBasicRequestItem>();
}

int TCustomParserScheduledClient::FindFrame(bool&) {
  return -1;
}

int TCustomParserScheduledClient::ParseFrame(TParsedDataList&) {
  return 0;
}

void TCustomParserScheduledClient::LoadRequests() {
  TQueueControllerTimer* master = Owner ? Owner->MasterQueue() : nullptr;
  if (!master) return;
  {
    // The master's StateLock too: Due and ScheduleKey are copied while
    // scheduled events may set them.
    TQueueState source(*master);
    Queue->ReloadRequests([&](TObjectList<TBasicRequestItem>& list) {
      for (const TBasicRequestItem* item : source.Items()) {
        std::unique_ptr<TBasicRequestItem> copy = CreateRequestItem();
        copy->Assign(*item);
        list.Add(std::move(copy));
      }
    });
    Queue->MinInterval = master->MinInterval.load();
  }
  const uint32_t idle = IdleTimeout.load();
  if (ConnectionBound && idle != kNeverExpire) {
    TQueueControllerTimer* now_master = Owner ? Owner->MasterQueue() : nullptr;
    const int64_t period = now_master ? LongestRequestPeriod(*now_master) : 0;
    if (period > 0) {
      // Silence for a whole request period is normal on a connection.
      const double wanted = std::round(static_cast<double>(period) * 1.3);
      const uint32_t longer = wanted >= static_cast<double>(kNeverExpire)
                                  ? kNeverExpire - 1
                                  : static_cast<uint32_t>(wanted);
      IdleTimeout = std::max(idle, longer);
    } else {
      IdleTimeout = kDefaultIdleTimeout;
    }
  }
}
