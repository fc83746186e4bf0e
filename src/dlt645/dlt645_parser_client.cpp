#include "dlt645/dlt645_parser_client.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "dlt645/custom_exchange.h"
#include "dlt645/dlt645_context.h"
#include "dlt645/frame_scanner.h"
#include "dlt645/func_types.h"
#include "dlt645/request_item.h"
#include "dlt645/text_resources.h"
#include "dlt645/value_decoder.h"
#include "paramlist/parsed_data_list.h"
#include "parser/data_source.h"
#include "parser/parser_module.h"
#include "parser/queue_controller.h"

using dlt645::TAddressChars;
using dlt645::TFrameClass;
using dlt645::TFrameView;
using dlt645::TScanStep;
using dlt645::TValueName;

namespace {

constexpr uint32_t kWakeUpValidity = 60000;
// How long the queue waits after the port refused a request: while the
// request has attempts left, and after its last.
constexpr uint32_t kRefusedWait = 1000;
constexpr uint32_t kRefusedWaitLast = 10000;

// RequestDone codes.
constexpr int32_t kDoneAnswered = 1;
constexpr int32_t kDoneTimeout = 2;
constexpr int32_t kDonePortClosed = 3;
constexpr int32_t kDoneErrorAnswer = 7;

constexpr char kCloseConnection[] = "<<CLOSE>>";

// Long enough for every field name of the tables and a number.
using TNameText = std::array<char, 96>;

std::string_view FormatName(const TValueName& name, TNameText& text) {
  return {text.data(), name.Format(text)};
}

std::string_view AddressView(const TAddressChars& address) {
  return {address.data(), address.size()};
}

// The request's device entry covers the address: it names it, or it is a
// wildcard or the broadcast entry.
bool Covers(const TRequestParameters& p, const TAddressChars& address) {
  return p.Address12 == AddressView(address) || dlt645::IsWildcardDevice(p.DeviceText) ||
         dlt645::IsBroadcastDevice(p.DeviceText);
}

bool Fits(const TRequestItem& request, const TFrameView& frame, const TAddressChars& address) {
  const TRequestParameters& p = request.Parameters;
  return Covers(p, address) && dlt645::FrameCarriesId(frame, p.Is1997, p.Id);
}

TRequestItem* AsRequest(TBasicRequestItem* item) {
  // Client queues hold only what CreateRequestItem made.
  return static_cast<TRequestItem*>(item);
}

// Whether decoding an answer would add a name a record already holds.
class TNameCheck {
 public:
  explicit TNameCheck(const TqonParamsList& record) : record_(record) {}

  bool Repeated = false;

  void OnTimestamp(unsigned k, double) { Check(dlt645::TimestampName(k)); }
  void OnInteger(const TValueName& name, int32_t) { Check(name); }
  void OnFloat(const TValueName& name, double) { Check(name); }
  void OnDateError(std::string_view) {}

 private:
  void Check(const TValueName& name) {
    if (Repeated) return;
    TNameText text;
    const std::string_view wanted = FormatName(name, text);
    for (int i = 0; i < record_.Count() && !Repeated; ++i)
      Repeated = record_.Items(i)->Name == wanted;
  }

  const TqonParamsList& record_;
};

}  // namespace

std::string RequestLabel(const TBasicRequestItem* item) {
  const auto* request = dynamic_cast<const TRequestItem*>(item);
  if (!request) return std::string();
  return "[" + request->Parameters.DeviceText + "/" + request->Parameters.FuncName + "] ";
}

// ---- frame search ----------------------------------------------------------

// The visitor of one search over the receive buffer. The queue's state is
// locked at the first sound frame and held to the end of the scan. What
// goes to the host is done after the lock is given back, and the scan stops
// at the frame that causes it, so that it happens in stream order.
class TDlt645ParserClient::TFrameSearch {
 public:
  explicit TFrameSearch(TDlt645ParserClient& client) : c_(client) {}

  TScanStep OnFrame(const TFrameView& frame) {
    TQueueState& st = State();
    if (c_.CustomExchange && c_.CustomExchange->Offer(frame)) return TScanStep::Next;
    const uint8_t control = frame.Control();
    // Only a meter's own frames tell who is on the line: the echo of a
    // request would teach the address that was asked for.
    if ((control & dlt645::kControlFromMeter) != 0 &&
        (!c_.HasLearnedAddress || control == dlt645::kControlUnsolicited)) {
      std::copy_n(frame.Address(), c_.LearnedAddress.size(), c_.LearnedAddress.begin());
      c_.HasLearnedAddress = true;
    }
    const TAddressChars address = dlt645::AddressChars(frame.Address());
    switch (frame.Class()) {
      case TFrameClass::Unsolicited:
        dlt645::BuildUnsolicitedReply(frame.Address(), reply_);
        reply_due_ = true;
        c_.FrameCopy.clear();
        return TScanStep::Answered;
      case TFrameClass::Outgoing:
        // Our own echo or another master's request: it ends nothing.
        LogErrorFrame(frame, address);
        return TScanStep::Next;
      case TFrameClass::ErrorAnswer:
        LogErrorFrame(frame, address);
        EndOnErrorAnswer(st, address);
        return record_ ? TScanStep::Answered : TScanStep::Next;
      case TFrameClass::Answer:
        return Match(st, frame, address);
    }
    return TScanStep::Next;
  }

  void OnChecksumError(const TFrameView& frame, uint8_t received, uint8_t computed) {
    const TAddressChars address = dlt645::AddressChars(frame.Address());
    char control[4];
    std::snprintf(control, sizeof control, "%02X", static_cast<unsigned>(frame.Control()));
    std::string line = c_.Texts().InvalidCRC(received, computed);
    line += " [";
    line += AddressView(address);
    line += ',';
    line += control;
    line += ']';
    c_.Log(TLogLevel::Warning, line);
  }

  // The writes and outputs the scan decided on, outside the state lock.
  void Finish() {
    state_.reset();
    IParserModule* plugin = c_.Plugin();
    if (plugin && reply_due_)
      plugin->WriteData(c_.DataSourceNo, c_.ClientId, reply_.data(),
                        static_cast<int32_t>(reply_.size()));
    if (plugin && close_) plugin->WriteText(c_.DataSourceNo, c_.ClientId, kCloseConnection);
    c_.Output(std::move(record_));
  }

 private:
  TQueueState& State() {
    if (!state_) state_.emplace(*c_.Queue);
    return *state_;
  }

  void LogErrorFrame(const TFrameView& frame, const TAddressChars& address) {
    c_.Log(TLogLevel::Error, c_.Texts().ErrorCode(std::string(AddressView(address)),
                                                  frame.Control(), dlt645::FrameErrorText(frame)));
  }

  // An error answer is the pending request's only when its device sent it.
  // The request has then failed: a group it completes is handed over as a
  // time-out would.
  void EndOnErrorAnswer(TQueueState& st, const TAddressChars& address) {
    TRequestItem* pending = AsRequest(st.Pending());
    if (!pending || !Covers(pending->Parameters, address)) return;
    const bool complete = IsLastOfGroupIn(st.Items(), pending);
    st.EndPending(kDoneErrorAnswer, pending);
    c_.SetSilent(pending->Parameters.Address12, false);
    if (complete && !record_ && c_.Accumulated->Count() > 0) record_ = c_.TakeAccumulated();
  }

  TScanStep Match(TQueueState& st, const TFrameView& frame, const TAddressChars& address) {
    TRequestItem* pending = AsRequest(st.Pending());
    if (pending && Fits(*pending, frame, address)) return Take(frame, pending);
    // An awaited request is the only candidate; otherwise (nothing pending,
    // or its wait ended) the listen-only requests decode what passes by.
    const bool awaited = pending && st.Awaited();
    if (!awaited && c_.ListensToOthers()) {
      for (TBasicRequestItem* item : st.Items()) {
        if (item->Enabled || item == pending) continue;
        TRequestItem* request = AsRequest(item);
        if (!Fits(*request, frame, address)) continue;
        c_.Queue->Pending = request;
        return Take(frame, request);
      }
    }
    // A device that some request polls may answer late: that is no reason
    // to log it or to drop its connection.
    if (!Named(st, address)) {
      c_.Log(TLogLevel::Warning, c_.Texts().UnallowableAddress(std::string(AddressView(address))));
      if (c_.ConnectionBound) {
        close_ = true;
        return TScanStep::Answered;
      }
    }
    return TScanStep::Next;
  }

  TScanStep Take(const TFrameView& frame, TRequestItem* request) {
    c_.FrameCopy.assign(frame.Bytes, frame.Bytes + frame.Length);
    c_.matched_ = request;
    return TScanStep::Match;
  }

  static bool Named(TQueueState& st, const TAddressChars& address) {
    for (TBasicRequestItem* item : st.Items())
      if (Covers(AsRequest(item)->Parameters, address)) return true;
    return false;
  }

  TDlt645ParserClient& c_;
  std::optional<TQueueState> state_;
  std::array<uint8_t, dlt645::kUnsolicitedReplyLength> reply_{};
  bool reply_due_ = false;
  bool close_ = false;
  std::unique_ptr<TParsedDataList> record_;
};

// Adds decoded values to a record.
class TDlt645ParserClient::TRecordSink {
 public:
  TRecordSink(TParsedDataList& record, const TDlt645ParserClient& client)
      : record_(record), client_(client) {}

  void OnTimestamp(unsigned k, double date_time) {
    Add(dlt645::TimestampName(k), OleVariant::FromDate(date_time));
  }
  void OnInteger(const TValueName& name, int32_t value) { Add(name, OleVariant(value)); }
  void OnFloat(const TValueName& name, double value) { Add(name, OleVariant(value)); }
  void OnDateError(std::string_view message) {
    client_.Log(TLogLevel::Warning, std::string(message));
  }

 private:
  void Add(const TValueName& name, OleVariant value) {
    TNameText text;
    record_.Add(FormatName(name, text), std::move(value));
  }

  TParsedDataList& record_;
  const TDlt645ParserClient& client_;
};

// ---- TDlt645ParserClient ---------------------------------------------------

TDlt645ParserClient::TDlt645ParserClient(TDataSourceScheduledWithClients* owner,
                                         const TPluginCallRec& block)
    : TCustomParserScheduledClient(owner, block),
      Accumulated(std::make_unique<TParsedDataList>()),
      source_(owner),
      port_(dynamic_cast<TDlt645Port*>(owner)) {
  Queue->OnSendRequest = [this](TQueueController&, TBasicRequestItem& item, uint32_t& timeout,
                                uint32_t& request_id) {
    return OnSendRequest(item, timeout, request_id);
  };
  Queue->OnTimeout = [this](TQueueController&, TBasicRequestItem& item, bool& retry) {
    OnRequestTimeout(item, retry);
  };
  Queue->OnError = [this](TQueueController&, const std::string&, const std::exception& error,
                          const std::string& info) {
    LogScheduleError(Plugin(), port_ ? port_->Context : nullptr, info, error);
  };
}

TDlt645ParserClient::~TDlt645ParserClient() {
  // The handlers use the fields below: no tick may run once they go.
  if (Queue) Queue->StopTimer();
}

IParserModule* TDlt645ParserClient::Plugin() const {
  return source_ ? source_->Plugin : nullptr;
}

const TTextResources& TDlt645ParserClient::Texts() const {
  return Dlt645Texts(port_ ? port_->Context : nullptr);
}

void TDlt645ParserClient::Log(TLogLevel level, const std::string& text) const {
  if (IParserModule* plugin = Plugin()) plugin->Log(level, text);
}

bool TDlt645ParserClient::ListensToOthers() const {
  // Without the module's count every disabled request listens.
  const TDlt645Context* context = port_ ? port_->Context : nullptr;
  return !context || context->ListenOnlyCount.load(std::memory_order_relaxed) > 0;
}

void TDlt645ParserClient::SetActive(bool value) {
  TCustomParserScheduledClient::SetActive(value);
  if (!value) Queue->LockState().EndPending(kDonePortClosed);
}

std::unique_ptr<TBasicRequestItem> TDlt645ParserClient::CreateRequestItem() {
  return std::make_unique<TRequestItem>();
}

int32_t TDlt645ParserClient::SendRequest(TRequestItem& item) {
  try {
    IParserModule* plugin = Plugin();
    if (!plugin) return -1;
    const TRequestParameters& p = item.Parameters;
    if (p.Address12 != LastTarget) {
      LastTarget = p.Address12;
      WakeUpSent = false;
    }
    if (WakeUpSent && WakeUpTimer.ElapsedNow()) WakeUpSent = false;
    if (!WakeUpSent) {
      const int32_t result =
          plugin->WriteData(DataSourceNo, ClientId, dlt645::kWakeUpPreamble.data(),
                            static_cast<int32_t>(dlt645::kWakeUpPreamble.size()));
      if (result < 0) return result;
      WakeUpTimer.StartWith(kWakeUpValidity);
      WakeUpSent = true;
    }
    // Identifier 0 is the 2007 row 00000000; without a row nothing was configured.
    if (p.Id == 0 && !p.FuncType) return -1;
    std::array<uint8_t, dlt645::kMaxReadRequestLength> frame{};
    const size_t length = dlt645::BuildReadRequest(
        dlt645::RequestAddress(p.DeviceText, p.Address12, LearnedAddress, HasLearnedAddress), p.Id,
        p.Is1997, p.FuncType, frame);
    return plugin->WriteData(DataSourceNo, ClientId, frame.data(), static_cast<int32_t>(length));
  } catch (const std::exception& e) {
    Log(TLogLevel::Error, RequestLabel(&item) + ": " + e.what());
    return -1;
  }
}

bool TDlt645ParserClient::OnSendRequest(TBasicRequestItem& item, uint32_t& timeout,
                                        uint32_t& request_id) {
  auto* request = dynamic_cast<TRequestItem*>(&item);
  const int32_t result = request ? SendRequest(*request) : -1;
  if (result != Code(TCallResult::PortNotOpen)) {
    HoldFlag = false;
    if (port_) port_->PortNotReady = false;
  }
  if (result < 0) {
    // Whatever the host refused was not sent: nothing waits for an answer.
    const bool attempts_left = item.Attempts < item.MaxAttempts;
    Queue->IntervalTimer.StartWith(attempts_left ? kRefusedWait : kRefusedWaitLast);
    if (result == Code(TCallResult::PortNotOpen)) {
      // A connection of its own that is gone holds nobody else on the port
      // (one modem that hung up must not stop the others).
      if (ConnectionBound)
        HoldFlag = true;
      else if (port_)
        port_->PortNotReady = true;
      // A request made once waits for the port instead of being given up.
      if (item.Method == kMethodOnce && !attempts_left && item.MaxAttempts > 0)
        item.Attempts = static_cast<uint8_t>(item.MaxAttempts - 1);
    }
    return false;
  }
  timeout = static_cast<uint32_t>(std::max<int32_t>(request->Parameters.Timeout, 0));
  request_id = 0;
  return true;
}

void TDlt645ParserClient::OnRequestTimeout(TBasicRequestItem& item, bool& retry) {
  auto st = Queue->LockState();
  const std::string& address = static_cast<const TRequestItem&>(item).Parameters.Address12;
  // A device that stayed silent last time gets no retries until it answers;
  // a Once request keeps its attempts (it is sent once only).
  const bool was_silent = IsSilent(address);
  if (retry && item.Method != kMethodOnce && was_silent) retry = false;
  if (!retry) {
    // A device that let a request go unanswered to its last attempt is not
    // asked for the rest of its group this round: a dead meter would hold up
    // the whole line for a time-out per request. What the group gave so far
    // is delivered now.
    SkipRestOfGroup(st.Items(), item);
    if (Accumulated->Count() > 0) Output(TakeAccumulated());
  }
  std::string line = RequestLabel(&item);
  if (!item.Caption.empty()) line += ". " + item.Caption;
  Log(TLogLevel::Warning, line + ". " + Texts().RequestTimeout());
  if (!retry && item.Method != kMethodOnce && !was_silent) {
    SetSilent(address, true);
    Log(TLogLevel::Warning, line + ". No answer after " + std::to_string(item.MaxAttempts) +
                                " attempts: one attempt a request until the device answers");
  }
  if (!retry && item.Method == kMethodOnce)
    Log(TLogLevel::Warning,
        line + ". Given up after " + std::to_string(item.MaxAttempts) + " attempts");
  WakeUpSent = false;
  st.EndPending(kDoneTimeout, &item);
}

bool TDlt645ParserClient::IsSilent(const std::string& address) const {
  return std::find(silent_devices_.begin(), silent_devices_.end(), address) !=
         silent_devices_.end();
}

void TDlt645ParserClient::SetSilent(const std::string& address, bool silent) {
  auto it = std::find(silent_devices_.begin(), silent_devices_.end(), address);
  if (silent && it == silent_devices_.end()) silent_devices_.push_back(address);
  if (!silent && it != silent_devices_.end()) silent_devices_.erase(it);
}

void TDlt645ParserClient::SkipRestOfGroup(const TObjectList<TBasicRequestItem>& items,
                                          const TBasicRequestItem& failed) {
  const TRequestParameters& group = static_cast<const TRequestItem&>(failed).Parameters;
  for (int i = items.IndexOf(&failed) + 1; i > 0 && i < items.Count(); ++i) {
    TBasicRequestItem* next = items[i];
    const TRequestParameters& p = AsRequest(next)->Parameters;
    if (p.Address12 != group.Address12 || p.GroupKey != group.GroupKey) break;
    if (!next->Enabled) continue;
    switch (next->Method) {
      case kMethodOnce:
        break;  // still sent: it has no next round
      case kMethodAtTime:
      case kMethodCron:
      case kMethodEvent:
        next->Due = false;
        next->DueAgain = false;
        break;
      default:
        // As if sent now: the poll period starts again.
        next->PollTimer.Restart();
        next->LastSent = next->PollTimer.Start;
        break;
    }
  }
}

bool TDlt645ParserClient::IsLastOfGroup(const TBasicRequestItem* item) {
  auto st = Queue->LockState();
  return IsLastOfGroupIn(st.Items(), item);
}

bool TDlt645ParserClient::IsLastOfGroupIn(const TObjectList<TBasicRequestItem>& items,
                                          const TBasicRequestItem* item) {
  const int index = items.IndexOf(item);
  if (index < 0 || index + 1 >= items.Count()) return true;
  const TRequestParameters& current = static_cast<const TRequestItem*>(item)->Parameters;
  const TRequestParameters& next = AsRequest(items[index + 1])->Parameters;
  return next.Address12 != current.Address12 || next.GroupKey != current.GroupKey;
}

int TDlt645ParserClient::FindFrame(bool& again) {
  const uint32_t count = Buffer->Count();
  if (count < dlt645::kMinFrameLength) return -1;
  TFrameSearch search(*this);
  const dlt645::TScanResult r = dlt645::ScanFrames({Buffer->Data(), count}, search);
  if (r.Drop > 0) Buffer->Consume(static_cast<uint32_t>(r.Drop));
  search.Finish();
  if (r.Again) again = true;
  return r.FrameLength;
}

int TDlt645ParserClient::ParseFrame(TParsedDataList& list) {
  if (FrameCopy.empty()) return -1;
  std::unique_ptr<TParsedDataList> earlier;
  int handed = -1;
  {
    auto st = Queue->LockState();
    TRequestItem* const request = std::exchange(matched_, nullptr);
    if (!request || !StillAnswers(st, request)) return -1;
    const bool complete = IsLastOfGroupIn(st.Items(), request);
    st.EndPending(kDoneAnswered, request);
    SetSilent(request->Parameters.Address12, false);

    // A record holds one group, and each name once.
    const TRequestParameters& p = request->Parameters;
    if (Accumulated->Count() > 0 && (accumulated_group_ != p.GroupKey ||
                                     accumulated_address_ != p.Address12 || RepeatsName(*request)))
      earlier = TakeAccumulated();
    // A group of one answer goes straight into the caller's list.
    const bool direct = complete && Accumulated->Count() == 0;
    TParsedDataList& target = direct ? list : *Accumulated;
    if (!direct && Accumulated->Count() == 0) {
      accumulated_group_ = p.GroupKey;
      accumulated_address_ = p.Address12;
    }
    try {
      AddAnswer(target, *request);
    } catch (const std::exception& e) {
      // What was decoded before the error is still handed over.
      Log(TLogLevel::Error, RequestLabel(request) + ": " + e.what());
    }
    if (complete && target.Count() > 0) {
      if (!direct) {
        list.AddItems(*Accumulated);
        list.AddText(Accumulated->Text);
        Accumulated->Clear();
      }
      handed = list.Count();
      list.AddNewRow();
    }
  }
  // The older group reaches the host before the caller hands this one over.
  Output(std::move(earlier));
  return handed;
}

bool TDlt645ParserClient::StillAnswers(TQueueState& st, TRequestItem* request) const {
  // The queue may have moved on since the search: an awaited request that
  // timed out (or another one sent since) no longer takes the frame, while
  // a listen-only request still does. Whatever is taken must still fit it.
  if (request != st.Pending() && (st.Items().IndexOf(request) < 0 || request->Enabled))
    return false;
  const TFrameView frame{FrameCopy.data(), FrameCopy.size(), 0};
  return Fits(*request, frame, dlt645::AddressChars(frame.Address()));
}

bool TDlt645ParserClient::RepeatsName(const TRequestItem& request) const {
  const TRequestParameters& p = request.Parameters;
  if (!p.FuncType) return false;
  const TFrameView frame{FrameCopy.data(), FrameCopy.size(), 0};
  TNameCheck check(*Accumulated);
  dlt645::DecodeValuesWith(dlt645::AnswerValues(frame, p.Is1997), *p.FuncType, p.Rate, check);
  return check.Repeated;
}

void TDlt645ParserClient::AddAnswer(TParsedDataList& target, const TRequestItem& request) {
  const TRequestParameters& p = request.Parameters;
  const TFrameView frame{FrameCopy.data(), FrameCopy.size(), 0};
  packet_.assign(reinterpret_cast<const char*>(FrameCopy.data()), FrameCopy.size());
  target.AddText(packet_);
  if (target.Count() == 0) {
    if (IParserModule* plugin = Plugin())
      plugin->AddStandardFields(&target, packet_, ClientHost, source_->PortInfo, source_->PortName,
                                ClientId, static_cast<uint32_t>(source_->DataSourceNo), packet_);
    const TAddressChars address = dlt645::AddressChars(frame.Address());
    target.Add("DEVICE_ID", OleVariant(AddressView(address)));
    target.Add("DATA_TYPE_ID_STR", OleVariant(p.FunctionText));
    target.Add("DATA_TYPE_ID", OleVariant(p.Id));
  }
  if (!p.FuncType) return;
  TRecordSink sink(target, *this);
  dlt645::DecodeValuesWith(dlt645::AnswerValues(frame, p.Is1997), *p.FuncType, p.Rate, sink);
}

std::unique_ptr<TParsedDataList> TDlt645ParserClient::TakeAccumulated() {
  auto record = std::make_unique<TParsedDataList>();
  record->AddItems(*Accumulated);
  record->Text = Accumulated->Text;
  record->AddNewRow();
  Accumulated->Clear();
  return record;
}

void TDlt645ParserClient::Output(std::unique_ptr<TParsedDataList> record) {
  if (!record) return;
  if (IParserModule* plugin = Plugin())
    plugin->OutputList(static_cast<uint32_t>(DataSourceNo), ClientId, record.get());
}
