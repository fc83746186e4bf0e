#pragma once
// The DL/T 645 client of one host client (a port or one connection): it
// writes the read requests its queue sends, finds answer frames in its
// receive buffer, matches them to the awaited or a listen-only request and
// decodes them into records, one record per request group.
//
// Who guards what: the wake-up fields, the learned address, Accumulated and
// the request a search matched are shared by the queue's handlers (the tick)
// and the receive path; both reach them under the queue's LockState().
// FrameCopy belongs to the receive path (the buffer's write lock).
//
// An answer with the follow-up bit keeps its request pending: the client
// asks for the next frames (0x12) with the request's time-out and attempts
// and decodes the joined values as one answer. A listen-only request joins
// the follow-up answers another master asks for.
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dlt645/follow_up.h"
#include "dlt645/frame_codec.h"
#include "parser/parser_client.h"
#include "parser/parser_module.h"
#include "threading/timeout.h"

class TCustomExchange;
class TParsedDataList;
class TQueueController;
class TQueueState;
class TRequestItem;
struct TRequestParameters;
struct TDlt645Port;
class TTextResources;
class IParserModule;
template <class T>
class TObjectList;

// "[" + DeviceText + "/" + FuncName + "] " of a request; empty for none.
std::string RequestLabel(const TBasicRequestItem* item);

class TDlt645ParserClient : public TCustomParserScheduledClient {
 public:
  TDlt645ParserClient(TDataSourceScheduledWithClients* owner, const TPluginCallRec& block);
  ~TDlt645ParserClient() override;

  // Closing the port ends the pending request (code 3), and so does the
  // client's end; either says so and delivers what its group gave.
  void SetActive(bool value) override;
  void BeforeDestruction() override;
  std::unique_ptr<TBasicRequestItem> CreateRequestItem() override;
  // Counts the bytes, so that a time-out can mark those it leaves behind.
  void AddData(const void* data, int32_t length) override;
  int FindFrame(bool& again) override;
  int ParseFrame(TParsedDataList& list) override;

  // Writes the wake-up preamble when due, then the read request of item.
  // The host's result; -1 when the item has no identifier or on an error.
  int32_t SendRequest(TRequestItem& item);
  // True when item is not in the queue, is its last request, or the next
  // request belongs to another device or configured request.
  bool IsLastOfGroup(const TBasicRequestItem* item);

  bool WakeUpSent = false;
  TqonTimeout WakeUpTimer;
  std::string LastTarget;
  dlt645::TWireAddress LearnedAddress{};
  bool HasLearnedAddress = false;
  std::vector<uint8_t> FrameCopy;
  std::unique_ptr<TParsedDataList> Accumulated;
  // A custom command's answer wait: offered every frame first (under the
  // queue's state lock).
  std::shared_ptr<TCustomExchange> CustomExchange;
  // How often a custom command found the queue busy and waited: a command
  // thread's progress, which a test can watch instead of the clock.
  std::atomic<uint32_t> CustomCommandWaits{0};

 private:
  class TFrameSearch;
  class TRecordSink;
  class TLoadSink;
  struct TFollowUp;
  // One answer to decode: the first frame, the values (joined over
  // follow-up frames or the frame's own) and, when it is not whole, why.
  struct TAnswer {
    std::span<const uint8_t> Frame;
    std::span<const uint8_t> Values;
    std::string_view Quality;  // "incomplete", "error"; empty: whole
    std::string Reason;
  };
  using TRecords = std::vector<std::unique_ptr<TParsedDataList>>;

  bool OnSendRequest(TBasicRequestItem& item, uint32_t& timeout, uint32_t& request_id);
  void OnRequestTimeout(TBasicRequestItem& item, bool& retry);

  // The requests after `failed` of its device and group wait for their next
  // round (poll period or trigger) instead of being sent now.
  static void SkipRestOfGroup(const TObjectList<TBasicRequestItem>& items,
                              const TBasicRequestItem& failed);
  static bool IsLastOfGroupIn(const TObjectList<TBasicRequestItem>& items,
                              const TBasicRequestItem* item);
  // Whether the request the search matched may still take FrameCopy.
  bool StillAnswers(TQueueState& st, TRequestItem* request) const;
  // Whether the answer's values would repeat a name Accumulated holds.
  bool RepeatsName(const TRequestItem& request, const TAnswer& answer) const;
  // Ends request with code and decodes its answer, by its group: into list
  // when the answer completes a record (the result is then the index to hand
  // over, as ParseFrame's), records due before it into *earlier.
  int Deliver(TQueueState& st, TRequestItem& request, const TAnswer& answer, int32_t code,
              TParsedDataList& list, TRecords* earlier);
  // The same for an answer that is delivered through the output function.
  void DeliverApart(TQueueState& st, TRequestItem& request, const TAnswer& answer, int32_t code,
                    TRecords* out);
  // Adds one answer of request to target.
  void AddAnswer(TParsedDataList& target, const TRequestItem& request, const TAnswer& answer);
  void AddHeader(TParsedDataList& target, const TRequestItem& request, const TAnswer& answer);
  // A load-profile answer: one record per interval record, the last into
  // list; the result as Deliver's.
  int AddLoadRecords(TParsedDataList& list, const TRequestItem& request, const TAnswer& answer,
                     TRecords* earlier);

  // The follow-up whose awaited frame request's retry asks for again, if
  // any; a follow-up the queue has moved past ends here.
  TFollowUp* FollowUpOf(const TRequestItem* request);
  // Ends the follow-up in progress with what arrived so far, marked with
  // quality and reason; the records go to *out. Logs why.
  void EndFollowUp(TQueueState& st, std::string_view quality, const std::string& reason,
                   int32_t code, TRecords* out);
  // Writes the 0x12 request for the follow-up's next frame.
  int32_t WriteFollowUpRequest(const TFollowUp& follow);
  // Accumulated as a closed record of its own; Accumulated is then empty.
  std::unique_ptr<TParsedDataList> TakeAccumulated();
  // Accumulated empty again, holding nothing.
  void FreshAccumulated();
  void Output(std::unique_ptr<TParsedDataList> record);

  // Ends the pending request for a reason other than its answer or its
  // time-out: logged when it was awaited; what its group gave is delivered.
  void EndInFlight(const char* why);
  // " (client ID NAME, address A)": the connection and the address a
  // request actually went to, for the lines that say it went unanswered.
  std::string WhereText(const TRequestParameters& p) const;
  // A record saying that request finally failed (quality "timeout" or
  // "error"), when the host asked for them; else null.
  std::unique_ptr<TParsedDataList> QualityRecord(const TRequestItem& request, const char* quality,
                                                 const std::string& reason);

  IParserModule* Plugin() const;
  const TTextResources& Texts() const;
  void Log(TLogLevel level, const std::string& text) const;
  // Whether listen-only requests are offered frames at all.
  bool ListensToOthers() const;

  TDataSourceScheduledWithClients* const source_;  // the owner, with its host identity
  TDlt645Port* const port_;  // null when the owner is another kind of data source
  // The request the last search took a frame for (under the state lock).
  TRequestItem* matched_ = nullptr;
  // Devices whose last request went unanswered to its last attempt: they get
  // one attempt a request until they answer again, so that a dead meter
  // costs its line one time-out a round (under the state lock).
  std::vector<std::string> silent_devices_;
  bool IsSilent(const std::string& address) const;
  void SetSilent(const std::string& address, bool silent);
  // The group Accumulated belongs to (under the state lock).
  uintptr_t accumulated_group_ = 0;
  std::string accumulated_address_;
  std::string packet_;  // the frame's bytes as text, reused
  // The follow-up of a long answer (under the state lock); made when first
  // needed and kept for the next.
  std::unique_ptr<TFollowUp> follow_;
  // A joined answer the search matched, for ParseFrame (receive path).
  std::vector<uint8_t> joined_;
  bool has_joined_ = false;
  // Bytes ever received, and how many of them were there when a request
  // timed out: what of those is still buffered then could not complete a
  // frame in time and goes before the next search.
  std::atomic<uint64_t> received_{0};
  std::atomic<uint64_t> stale_until_{0};
};
