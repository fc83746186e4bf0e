#include "dlt645/dlt645_parser_client.h"

#include <algorithm>
#include <array>
#include <cmath>
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
#include "dlt645/load_profile.h"
#include "dlt645/request_item.h"
#include "dlt645/text_resources.h"
#include "dlt645/value_decoder.h"
#include "paramlist/parsed_data_list.h"
#include "parser/data_source.h"
#include "parser/parser_module.h"
#include "parser/queue_controller.h"
#include "platform/tick.h"

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

constexpr std::string_view kIncomplete = "incomplete";
constexpr std::string_view kError = "error";

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

// A 2007 answer that announces follow-up frames (1997 ones are taken whole).
bool StartsFollowUp(const TFrameView& frame, const TRequestItem& request) {
  return dlt645::HasFollowUp(frame.Control()) && !request.Parameters.Is1997;
}

// The time of a load-profile request for the block at a time: minutes from
// now or from 00:00 today.
bool LoadRequestTime(const TRequestParameters& p, dlt645::TLoadTime* at) {
  double from = platform::LocalNow();
  if (p.LoadFromToday) from = std::floor(from);
  const int64_t seconds = std::llround(from * 86400.0) + static_cast<int64_t>(p.LoadOffset) * 60;
  return dlt645::LoadTimeFromSeconds(seconds, at);
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

// ---- follow-up frames ------------------------------------------------------

struct TDlt645ParserClient::TFollowUp {
  // A first answer and 255 follow-up frames at most.
  static constexpr size_t kCapacity = (dlt645::kMaxFollowUpSeq + 1) * 255;

  TFollowUp() : Storage(kCapacity), Join(Storage) {}

  TRequestItem* Request = nullptr;  // none: no follow-up in progress
  // A listen-only request: another master asks for the frames.
  bool Listening = false;
  // Listening: how long the next frame is waited for.
  TqonTimeout Wait;
  // The time-out decided to ask for the awaited frame again.
  bool RetryDue = false;
  std::vector<uint8_t> First;  // the first answer
  std::vector<uint8_t> Storage;
  dlt645::TAnswerJoin Join;

  dlt645::TWireAddress Meter() const {
    dlt645::TWireAddress address{};
    std::copy_n(First.begin() + 1, address.size(), address.begin());
    return address;
  }
  size_t BuildRequest(std::span<uint8_t, dlt645::kFollowUpRequestLength> out) const {
    return dlt645::BuildFollowUpRequest(Meter(), Join.Id(), Join.NextSeq(), out);
  }
};

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
    if (c_.follow_ && c_.follow_->Request) {
      TScanStep step = TScanStep::Next;
      if (FollowUpFrame(st, frame, address, &step)) return step;
    }
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
        EndOnErrorAnswer(st, frame, address);
        return record_ || quality_ ? TScanStep::Answered : TScanStep::Next;
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
    // A failed write is asked again when the time-out comes.
    if (plugin && ask_length_ > 0)
      plugin->WriteData(c_.DataSourceNo, c_.ClientId, ask_.data(),
                        static_cast<int32_t>(ask_length_));
    for (auto& record : outputs_)
      c_.Output(std::move(record));
    c_.Output(std::move(record_));
    c_.Output(std::move(quality_));
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
  void EndOnErrorAnswer(TQueueState& st, const TFrameView& frame, const TAddressChars& address) {
    TRequestItem* pending = AsRequest(st.Pending());
    if (!pending || !Covers(pending->Parameters, address)) return;
    const bool complete = IsLastOfGroupIn(st.Items(), pending);
    st.EndPending(kDoneErrorAnswer, pending);
    c_.SetSilent(pending->Parameters.Address12, false);
    if (complete && !record_ && c_.Accumulated->Count() > 0) record_ = c_.TakeAccumulated();
    if (!quality_) quality_ = c_.QualityRecord(*pending, "error", dlt645::FrameErrorText(frame));
  }

  // A frame seen while a long answer is followed. True when the frame is
  // the follow-up's business (*step says what the scan does with it).
  bool FollowUpFrame(TQueueState& st, const TFrameView& frame, const TAddressChars& address,
                     TScanStep* step) {
    TFollowUp& f = *c_.follow_;
    TRequestItem* const request = f.Request;
    // The queue moved on (a reload, a closed port): the answer went with it.
    if (f.Listening ? st.Items().IndexOf(request) < 0 : request != st.Pending()) {
      f.Request = nullptr;
      return false;
    }
    if (f.Listening && f.Wait.ElapsedNow()) {
      c_.EndFollowUp(st, kIncomplete, "the follow-up frames were not seen", kDoneAnswered,
                     &outputs_);
      return false;
    }
    const uint8_t control = frame.Control();
    // Requests, ours or another master's, change nothing.
    if ((control & dlt645::kControlFromMeter) == 0) return false;
    const bool same_meter = std::equal(frame.Address(), frame.Address() + 6, f.First.begin() + 1);
    const dlt645::TJoinStep joined =
        same_meter && (control & dlt645::kFunctionMask) == dlt645::kFunctionReadFollowUp
            ? f.Join.Add(frame)
            : dlt645::TJoinStep::Foreign;
    switch (joined) {
      case dlt645::TJoinStep::More:
        if (f.Listening) {
          f.Wait.StartWith(WaitOf(*request));
        } else {
          AskNext(st, f);
        }
        *step = TScanStep::Answered;
        return true;
      case dlt645::TJoinStep::Done:
        c_.joined_.assign(f.Join.Data().begin(), f.Join.Data().end());
        c_.has_joined_ = true;
        c_.FrameCopy = f.First;
        c_.matched_ = request;
        f.Request = nullptr;
        if (f.Listening && !st.Awaited()) c_.Queue->Pending = request;
        *step = TScanStep::Match;
        return true;
      case dlt645::TJoinStep::ErrorAnswer:
        LogErrorFrame(frame, address);
        c_.EndFollowUp(st, kError, dlt645::ErrorBitsText(f.Join.ErrorByte()), kDoneErrorAnswer,
                       &outputs_);
        *step = TScanStep::Answered;
        return true;
      case dlt645::TJoinStep::Repeated:
        *step = TScanStep::Next;
        return true;
      case dlt645::TJoinStep::OutOfOrder:
        c_.Log(TLogLevel::Warning, RequestLabel(request) + "Follow-up frame out of order, " +
                                       "frame " + std::to_string(f.Join.NextSeq()) +
                                       " awaited; ignored");
        *step = TScanStep::Next;
        return true;
      case dlt645::TJoinStep::Overflow:
        c_.EndFollowUp(st, kIncomplete, "the answer does not fit the client's storage",
                       kDoneAnswered, &outputs_);
        *step = TScanStep::Answered;
        return true;
      case dlt645::TJoinStep::TooManyFrames:
        c_.EndFollowUp(st, kIncomplete, "frame 255 still announced more", kDoneAnswered, &outputs_);
        *step = TScanStep::Answered;
        return true;
      case dlt645::TJoinStep::Foreign:
        break;
    }
    // The first answer once more (a repeat on the line) changes nothing.
    if (same_meter && Fits(*request, frame, address)) {
      *step = TScanStep::Next;
      return true;
    }
    if (!f.Listening && same_meter && frame.Class() == TFrameClass::ErrorAnswer) {
      LogErrorFrame(frame, address);
      c_.EndFollowUp(st, kError, dlt645::FrameErrorText(frame), kDoneErrorAnswer, &outputs_);
      *step = TScanStep::Answered;
      return true;
    }
    // Another meter's frame: the master that asked for the rest moved on.
    if (f.Listening && frame.Class() != TFrameClass::Unsolicited)
      c_.EndFollowUp(st, kIncomplete, "the follow-up frames were not seen", kDoneAnswered,
                     &outputs_);
    return false;
  }

  static uint32_t WaitOf(const TRequestItem& request) {
    return static_cast<uint32_t>(std::max<int32_t>(request.Parameters.Timeout, 0));
  }

  // The request waits for the next frame with its time-out and attempts.
  void AskNext(TQueueState& st, TFollowUp& f) {
    f.Request->Attempts = 1;
    if (const uint32_t wait = WaitOf(*f.Request); wait > 0) st.Queue().AnswerTimer.StartWith(wait);
    ask_length_ = f.BuildRequest(ask_);
  }

  TScanStep StartFollowUp(TQueueState& st, const TFrameView& frame, TRequestItem* request) {
    if (!c_.follow_) c_.follow_ = std::make_unique<TFollowUp>();
    TFollowUp& f = *c_.follow_;
    f.Request = request;
    f.Listening = !request->Enabled;
    f.First.assign(frame.Bytes, frame.Bytes + frame.Length);
    f.Join.Start(frame, request->Parameters.Id);
    c_.SetSilent(request->Parameters.Address12, false);
    f.RetryDue = false;
    if (f.Listening)
      f.Wait.StartWith(WaitOf(*request));
    else
      AskNext(st, f);
    return TScanStep::Answered;
  }

  TScanStep Match(TQueueState& st, const TFrameView& frame, const TAddressChars& address) {
    TRequestItem* pending = AsRequest(st.Pending());
    if (pending && Fits(*pending, frame, address))
      return StartsFollowUp(frame, *pending) ? StartFollowUp(st, frame, pending)
                                             : Take(frame, pending);
    // An awaited request is the only candidate; otherwise (nothing pending,
    // or its wait ended) the listen-only requests decode what passes by.
    const bool awaited = pending && st.Awaited();
    if (!awaited && c_.ListensToOthers()) {
      for (TBasicRequestItem* item : st.Items()) {
        if (item->Enabled || item == pending) continue;
        TRequestItem* request = AsRequest(item);
        if (!Fits(*request, frame, address)) continue;
        if (StartsFollowUp(frame, *request)) return StartFollowUp(st, frame, request);
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
    c_.has_joined_ = false;
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
  std::array<uint8_t, dlt645::kFollowUpRequestLength> ask_{};
  size_t ask_length_ = 0;
  TRecords outputs_;
  std::unique_ptr<TParsedDataList> record_;
  std::unique_ptr<TParsedDataList> quality_;
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
  if (!value) EndInFlight("the connection closed");
}

void TDlt645ParserClient::BeforeDestruction() {
  if (Queue) EndInFlight("the client ends");
  TCustomParserScheduledClient::BeforeDestruction();
}

void TDlt645ParserClient::EndInFlight(const char* why) {
  auto st = Queue->LockState();
  TBasicRequestItem* pending = st.Pending();
  if (pending && st.Awaited()) {
    std::string line = RequestLabel(pending);
    if (!pending->Caption.empty()) line += ". " + pending->Caption;
    Log(TLogLevel::Warning, line + ". Not answered: " + why +
                                WhereText(static_cast<const TRequestItem*>(pending)->Parameters));
  }
  st.EndPending(kDonePortClosed);
  if (follow_) follow_->Request = nullptr;
  // An answer that came before the end is not lost with its unfinished group.
  if (Accumulated->Count() > 0) Output(TakeAccumulated());
}

std::string TDlt645ParserClient::WhereText(const TRequestParameters& p) const {
  const dlt645::TWireAddress used =
      dlt645::RequestAddress(p.DeviceText, p.Address12, LearnedAddress, HasLearnedAddress);
  std::string text = " (client " + std::to_string(ClientId);
  if (!ClientName.empty()) text += " " + ClientName;
  return text + ", address " + dlt645::AddressText(used.data()) + ")";
}

std::unique_ptr<TParsedDataList> TDlt645ParserClient::QualityRecord(const TRequestItem& request,
                                                                    const char* quality,
                                                                    const std::string& reason) {
  IParserModule* plugin = Plugin();
  if (!plugin || !plugin->QualityRecords()) return nullptr;
  const TRequestParameters& p = request.Parameters;
  auto record = std::make_unique<TParsedDataList>();
  plugin->AddStandardFields(record.get(), std::string(), ClientHost, source_->PortInfo,
                            source_->PortName, ClientId,
                            static_cast<uint32_t>(source_->DataSourceNo), std::string());
  const dlt645::TWireAddress used =
      dlt645::RequestAddress(p.DeviceText, p.Address12, LearnedAddress, HasLearnedAddress);
  record->Add("DEVICE_ID", OleVariant(dlt645::AddressText(used.data())));
  record->Add("DATA_TYPE_ID_STR", OleVariant(p.FunctionText));
  record->Add("DATA_TYPE_ID", OleVariant(p.Id));
  record->Add("QUALITY", OleVariant(std::string(quality)));
  record->Add("REASON", OleVariant(reason));
  record->AddNewRow();
  return record;
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
    const dlt645::TWireAddress address =
        dlt645::RequestAddress(p.DeviceText, p.Address12, LearnedAddress, HasLearnedAddress);
    if (IsLoadProfileRow(p.FuncType)) {
      std::array<uint8_t, dlt645::kMaxLoadProfileRequestLength> frame{};
      dlt645::TLoadBlock block{};
      uint8_t load_class = 0;
      dlt645::TLoadTime at;
      size_t length = 0;
      if (dlt645::SplitLoadProfileId(p.Id, &block, &load_class) &&
          (block != dlt645::TLoadBlock::AtTime || LoadRequestTime(p, &at)))
        length =
            dlt645::BuildLoadProfileRequest(address, block, load_class, p.LoadBlocks, &at, frame);
      if (length == 0) {
        Log(TLogLevel::Error, RequestLabel(&item) + "No load-profile request can be made of " +
                                  std::to_string(p.LoadBlocks) + " blocks at that time");
        return -1;
      }
      return plugin->WriteData(DataSourceNo, ClientId, frame.data(), static_cast<int32_t>(length));
    }
    std::array<uint8_t, dlt645::kMaxReadRequestLength> frame{};
    const size_t length = dlt645::BuildReadRequest(address, p.Id, p.Is1997, p.FuncType, frame);
    return plugin->WriteData(DataSourceNo, ClientId, frame.data(), static_cast<int32_t>(length));
  } catch (const std::exception& e) {
    Log(TLogLevel::Error, RequestLabel(&item) + ": " + e.what());
    return -1;
  }
}

bool TDlt645ParserClient::OnSendRequest(TBasicRequestItem& item, uint32_t& timeout,
                                        uint32_t& request_id) {
  auto* request = dynamic_cast<TRequestItem*>(&item);
  // What another master's follow-up frames gave so far is all there is:
  // this request's answer would end the join anyway.
  if (follow_ && follow_->Request && follow_->Listening) {
    auto st = Queue->LockState();
    TRecords records;
    EndFollowUp(st, kIncomplete, "the follow-up frames were not seen", kDoneAnswered, &records);
    for (auto& record : records)
      Output(std::move(record));
  }
  // A follow-up frame that timed out is asked again, not the whole answer.
  TFollowUp* follow = FollowUpOf(request);
  const int32_t result = follow    ? WriteFollowUpRequest(*follow)
                         : request ? SendRequest(*request)
                                   : -1;
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
  if (follow_ && follow_->Request == &item && !follow_->Listening) {
    // The device answered: a lost follow-up frame is asked again, and what
    // arrived is delivered once the attempts are spent.
    const std::string frame = "follow-up frame " + std::to_string(follow_->Join.NextSeq());
    if (retry) {
      Log(TLogLevel::Warning, RequestLabel(&item) + "No answer to " + frame + "; asked again");
      follow_->RetryDue = true;
      return;
    }
    TRecords records;
    EndFollowUp(st, kIncomplete, frame + " not answered", kDoneTimeout, &records);
    for (auto& record : records)
      Output(std::move(record));
    return;
  }
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
  const TRequestItem& request = static_cast<const TRequestItem&>(item);
  const std::string where = WhereText(request.Parameters);
  Log(TLogLevel::Warning, line + ". " + Texts().RequestTimeout() + where);
  if (!retry && item.Method != kMethodOnce && !was_silent) {
    SetSilent(address, true);
    Log(TLogLevel::Warning, line + ". No answer after " + std::to_string(item.MaxAttempts) +
                                " attempts: one attempt a request until the device answers" +
                                where);
  }
  if (!retry && item.Method == kMethodOnce)
    Log(TLogLevel::Warning,
        line + ". Given up after " + std::to_string(item.MaxAttempts) + " attempts" + where);
  if (!retry) {
    const int attempts = was_silent && item.Method != kMethodOnce ? 1 : item.MaxAttempts;
    Output(QualityRecord(request, "timeout",
                         "no answer after " + std::to_string(attempts) +
                             (attempts == 1 ? " attempt" : " attempts")));
  }
  WakeUpSent = false;
  stale_until_.store(received_.load());
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

void TDlt645ParserClient::AddData(const void* data, int32_t length) {
  if (length > 0 && data) received_.fetch_add(static_cast<uint64_t>(length));
  TCustomParserScheduledClient::AddData(data, length);
}

int TDlt645ParserClient::FindFrame(bool& again) {
  uint32_t count = Buffer->Count();
  // The bytes of a timed-out wait that formed no frame are garbage now: a
  // truncated header must not stay in front of the next answer.
  const uint64_t first = received_.load() - count;
  const uint64_t stale = stale_until_.load();
  if (stale > first) {
    Buffer->Consume(static_cast<uint32_t>(std::min<uint64_t>(stale - first, count)));
    count = Buffer->Count();
  }
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
  TRecords earlier;
  int handed = -1;
  {
    auto st = Queue->LockState();
    TRequestItem* const request = std::exchange(matched_, nullptr);
    if (!request || !StillAnswers(st, request)) return -1;
    const TFrameView frame{FrameCopy.data(), FrameCopy.size(), 0};
    TAnswer answer{frame.Whole(), {}, {}, {}};
    answer.Values = has_joined_ ? std::span<const uint8_t>(joined_)
                                : dlt645::AnswerValues(frame, request->Parameters.Is1997);
    handed = Deliver(st, *request, answer, kDoneAnswered, list, &earlier);
  }
  // The older records reach the host before the caller hands this one over.
  for (auto& record : earlier)
    Output(std::move(record));
  return handed;
}

int TDlt645ParserClient::Deliver(TQueueState& st, TRequestItem& request, const TAnswer& answer,
                                 int32_t code, TParsedDataList& list, TRecords* earlier) {
  const bool complete = IsLastOfGroupIn(st.Items(), &request);
  st.EndPending(code, &request);
  SetSilent(request.Parameters.Address12, false);
  const TRequestParameters& p = request.Parameters;
  if (IsLoadProfileRow(p.FuncType)) {
    // Interval records stand alone; a group they end is complete.
    if (complete && Accumulated->Count() > 0) earlier->push_back(TakeAccumulated());
    return AddLoadRecords(list, request, answer, earlier);
  }

  // A record holds one group, and each name once.
  if (Accumulated->Count() > 0 &&
      (accumulated_group_ != p.GroupKey || accumulated_address_ != p.Address12 ||
       RepeatsName(request, answer)))
    earlier->push_back(TakeAccumulated());
  // A group of one answer goes straight into the caller's list.
  const bool direct = complete && Accumulated->Count() == 0;
  TParsedDataList& target = direct ? list : *Accumulated;
  if (!direct && Accumulated->Count() == 0) {
    accumulated_group_ = p.GroupKey;
    accumulated_address_ = p.Address12;
  }
  try {
    AddAnswer(target, request, answer);
  } catch (const std::exception& e) {
    // What was decoded before the error is still handed over.
    Log(TLogLevel::Error, RequestLabel(&request) + ": " + e.what());
  }
  if (!complete || target.Count() == 0) return -1;
  if (!direct) {
    list.AddItems(*Accumulated);
    list.AddText(Accumulated->Text);
    FreshAccumulated();
  }
  const int handed = list.Count();
  list.AddNewRow();
  return handed;
}

void TDlt645ParserClient::DeliverApart(TQueueState& st, TRequestItem& request,
                                       const TAnswer& answer, int32_t code, TRecords* out) {
  auto list = std::make_unique<TParsedDataList>();
  if (Deliver(st, request, answer, code, *list, out) >= 0) out->push_back(std::move(list));
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

bool TDlt645ParserClient::RepeatsName(const TRequestItem& request, const TAnswer& answer) const {
  const TRequestParameters& p = request.Parameters;
  if (!p.FuncType) return false;
  TNameCheck check(*Accumulated);
  dlt645::DecodeValuesWith(answer.Values, *p.FuncType, p.Rate, check);
  return check.Repeated || (!answer.Quality.empty() && Accumulated->IndexOf("QUALITY") >= 0);
}

void TDlt645ParserClient::AddHeader(TParsedDataList& target, const TRequestItem& request,
                                    const TAnswer& answer) {
  const TRequestParameters& p = request.Parameters;
  packet_.assign(reinterpret_cast<const char*>(answer.Frame.data()), answer.Frame.size());
  target.AddText(packet_);
  if (target.Count() > 0) return;
  if (IParserModule* plugin = Plugin())
    plugin->AddStandardFields(&target, packet_, ClientHost, source_->PortInfo, source_->PortName,
                              ClientId, static_cast<uint32_t>(source_->DataSourceNo), packet_);
  const TAddressChars address = dlt645::AddressChars(answer.Frame.data() + 1);
  target.AddString("DEVICE_ID", AddressView(address));
  target.AddString("DATA_TYPE_ID_STR", p.FunctionText);
  target.Add("DATA_TYPE_ID", OleVariant(p.Id));
}

namespace {

void AddQuality(TParsedDataList& target, const std::string_view quality,
                const std::string& reason) {
  if (quality.empty()) return;
  target.Add("QUALITY", OleVariant(quality));
  target.Add("REASON", OleVariant(reason));
}

}  // namespace

void TDlt645ParserClient::AddAnswer(TParsedDataList& target, const TRequestItem& request,
                                    const TAnswer& answer) {
  AddHeader(target, request, answer);
  const TRequestParameters& p = request.Parameters;
  if (p.FuncType) {
    TRecordSink sink(target, *this);
    dlt645::DecodeValuesWith(answer.Values, *p.FuncType, p.Rate, sink);
  }
  AddQuality(target, answer.Quality, answer.Reason);
}

// One record for the host per sound interval record; bad ones are logged.
class TDlt645ParserClient::TLoadSink final : public dlt645::ILoadRecordSink {
 public:
  TLoadSink(TDlt645ParserClient& client, const TRequestItem& request,
            const TDlt645ParserClient::TAnswer& answer)
      : client_(client), request_(request), answer_(answer) {}

  void OnRecord(const dlt645::TLoadRecord& record) override {
    auto list = std::make_unique<TParsedDataList>();
    client_.AddHeader(*list, request_, answer_);
    list->Add("RECORD_TIME", OleVariant::FromDate(dlt645::LoadTimeDateTime(record.Time)));
    for (size_t v = 0; v < dlt645::kLoadValueCount; ++v) {
      const auto value = static_cast<dlt645::TLoadValue>(v);
      if (record.Has(value))
        list->Add(dlt645::kLoadValues[v].Name, OleVariant(record.Value(value)));
    }
    AddQuality(*list, answer_.Quality, answer_.Reason);
    Records.push_back(std::move(list));
  }
  void OnSkipped(size_t offset, size_t length, dlt645::TLoadSkip reason) override {
    client_.Log(TLogLevel::Warning, RequestLabel(&request_) + "Load record skipped (" +
                                        std::to_string(length) + " bytes at " +
                                        std::to_string(offset) +
                                        "): " + std::string(dlt645::LoadSkipText(reason)));
  }

  TRecords Records;

 private:
  TDlt645ParserClient& client_;
  const TRequestItem& request_;
  const TDlt645ParserClient::TAnswer& answer_;
};

int TDlt645ParserClient::AddLoadRecords(TParsedDataList& list, const TRequestItem& request,
                                        const TAnswer& answer, TRecords* earlier) {
  const TRequestParameters& p = request.Parameters;
  dlt645::TLoadBlock block{};
  uint8_t load_class = dlt645::kLoadClassAll;
  dlt645::SplitLoadProfileId(p.Id, &block, &load_class);
  TLoadSink sink(*this, request, answer);
  dlt645::WalkLoadRecords(answer.Values, load_class, sink);
  if (sink.Records.empty()) {
    // A failed answer still tells the host why nothing came.
    if (answer.Quality.empty()) return -1;
    auto failed = std::make_unique<TParsedDataList>();
    AddHeader(*failed, request, answer);
    AddQuality(*failed, answer.Quality, answer.Reason);
    sink.Records.push_back(std::move(failed));
  }
  for (size_t i = 0; i + 1 < sink.Records.size(); ++i) {
    sink.Records[i]->AddNewRow();
    earlier->push_back(std::move(sink.Records[i]));
  }
  const TParsedDataList& last = *sink.Records.back();
  list.AddItems(last);
  list.AddText(last.Text);
  const int handed = list.Count();
  list.AddNewRow();
  return handed;
}

TDlt645ParserClient::TFollowUp* TDlt645ParserClient::FollowUpOf(const TRequestItem* request) {
  if (!follow_ || !follow_->Request || follow_->Listening) return nullptr;
  // Anything but the retry the time-out asked for means the follow-up is
  // over (the port closed, the list was reloaded).
  if (follow_->Request != request || !std::exchange(follow_->RetryDue, false)) {
    follow_->Request = nullptr;
    return nullptr;
  }
  return follow_.get();
}

void TDlt645ParserClient::EndFollowUp(TQueueState& st, std::string_view quality,
                                      const std::string& reason, int32_t code, TRecords* out) {
  TRequestItem* const request = std::exchange(follow_->Request, nullptr);
  if (!request || st.Items().IndexOf(request) < 0) return;
  Log(TLogLevel::Warning, RequestLabel(request) + "Answer " + std::string(quality) + ": " + reason);
  const TFrameView frame{follow_->First.data(), follow_->First.size(), 0};
  const TAnswer answer{frame.Whole(), follow_->Join.Data(), quality, reason};
  DeliverApart(st, *request, answer, code, out);
}

int32_t TDlt645ParserClient::WriteFollowUpRequest(const TFollowUp& follow) {
  IParserModule* plugin = Plugin();
  if (!plugin) return -1;
  std::array<uint8_t, dlt645::kFollowUpRequestLength> frame{};
  const size_t length = follow.BuildRequest(frame);
  return plugin->WriteData(DataSourceNo, ClientId, frame.data(), static_cast<int32_t>(length));
}

std::unique_ptr<TParsedDataList> TDlt645ParserClient::TakeAccumulated() {
  auto record = std::make_unique<TParsedDataList>();
  record->AddItems(*Accumulated);
  record->Text = Accumulated->Text;
  record->AddNewRow();
  FreshAccumulated();
  return record;
}

void TDlt645ParserClient::FreshAccumulated() {
  // Not Clear(): a cleared list keeps its items for the next record, which
  // one record a round does not need and thousands of connections would
  // each hold.
  Accumulated = std::make_unique<TParsedDataList>();
}

void TDlt645ParserClient::Output(std::unique_ptr<TParsedDataList> record) {
  if (!record) return;
  if (IParserModule* plugin = Plugin())
    plugin->OutputList(static_cast<uint32_t>(DataSourceNo), ClientId, record.get());
}
