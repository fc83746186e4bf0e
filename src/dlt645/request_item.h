#pragma once
// One DL/T 645 request: one device entry and one function of one configured
// request element.
#include <cstdint>
#include <string>
#include <string_view>

#include "parser/basic_request_item.h"

struct TRequestFuncType;
class TRequestItem;

// The entry cut to 12 characters and left-padded with "0".
std::string MakeAddress12(std::string_view device_text);

struct TRequestParameters {
  std::string DeviceText;    // the device entry as configured
  std::string Address12;     // MakeAddress12(DeviceText)
  bool Is1997 = false;       // the function code had bit 31 set
  int32_t Timeout = 0;       // answer time-out, milliseconds
  std::string FunctionText;  // the "Function" text as configured
  std::string FuncName;      // DisplayName, with ", rate " r when a rate applies
  uint32_t Id = 0;           // identifier sent: rate folded in, bit 31 clear
  uint8_t Rate = 0;
  const TRequestFuncType* FuncType = nullptr;
  uint8_t RequestKind = 0;
  // Identifies the configured request element; requests with equal GroupKey
  // and Address12 answer into one record.
  uintptr_t GroupKey = 0;
  // Load-profile reads (identifier 06cc00bb): the blocks asked for (NN) and,
  // for the block at a time, that time as minutes from now or from 00:00
  // today.
  uint8_t LoadBlocks = 1;
  bool LoadFromToday = false;
  int32_t LoadOffset = 0;

  // Sets DeviceText and Address12 together.
  void SetDevice(std::string_view device_text);
};

struct TResponseParameters {
  std::string Text;
};

class TResponseItem : public TRequestSubItem {
 public:
  explicit TResponseItem(TRequestItem* request) : Request(request) {}

  TRequestItem* Request;
  TResponseParameters Parameters;
};

class TRequestItem : public TBasicRequestItem {
 public:
  TRequestItem();

  // The base fields, copies of the source's response items and the
  // protocol parameters.
  void Assign(const TBasicRequestItem& source) override;

  TResponseItem& AddResponse(TResponseParameters parameters);

  TRequestParameters Parameters;
};
