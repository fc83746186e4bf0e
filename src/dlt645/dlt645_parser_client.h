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
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dlt645/frame_codec.h"
#include "parser/parser_client.h"
#include "parser/parser_module.h"
#include "threading/timeout.h"

class TCustomExchange;
class TParsedDataList;
class TQueueController;
class TQueueState;
class TRequestItem;
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

  // Closing the port ends the pending request (code 3).
  void SetActive(bool value) override;
  std::unique_ptr<TBasicRequestItem> CreateRequestItem() override;
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
  const std::unique_ptr<TParsedDataList> Accumulated;
  // A custom command's answer wait: offered every frame first (under the
  // queue's state lock).
  std::shared_ptr<TCustomExchange> CustomExchange;

 private:
  class TFrameSearch;
  class TRecordSink;

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
  bool RepeatsName(const TRequestItem& request) const;
  // Adds one answer (FrameCopy) of request to target.
  void AddAnswer(TParsedDataList& target, const TRequestItem& request);
  // Accumulated as a closed record of its own; Accumulated is then empty.
  std::unique_ptr<TParsedDataList> TakeAccumulated();
  void Output(std::unique_ptr<TParsedDataList> record);

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
};
