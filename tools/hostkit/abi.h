#pragma once
// The plug-in's binary interface as a host sees it, declared here on the
// host's side so that the host shares no code with the library it drives:
// the call record and its data descriptors, the parameter-list interfaces
// (slot order is the contract), the exports and the host's output function.
#include <cstddef>
#include <cstdint>

#include "platform/abi.h"
#include "platform/variant.h"

namespace host {

using platform::HRESULT;
using platform::VARIANT;
using platform::WChar;

#pragma pack(push, 1)

struct DataDesc {
  uint32_t Count;
  uint32_t Size;
  uint8_t Kind;
  uintptr_t Data;
};

struct CallRec {
  uint32_t Size;
  uint8_t Flags;
  uintptr_t Instance;
  uint32_t HostModuleId;
  uint32_t DataSourceNo;
  uintptr_t ClientId;
  uint8_t Roles;
  uintptr_t Params;
  DataDesc Input;
  DataDesc Output;
  char ClientName[50];
};

// What GetModuleInfo fills: a header, then the two texts it points at.
struct ModuleInfo {
  uint32_t Size;
  uint32_t Capabilities;
  uint32_t InterfaceVersion;
  float ModuleVersion;
  uint8_t Options;
  uint32_t TitleLen;
  uintptr_t TitlePtr;
  uint32_t CommandsLen;
  uintptr_t CommandsPtr;
};

#pragma pack(pop)

constexpr bool kWide = sizeof(void*) == 8;
constexpr uint32_t kCallRecSize = kWide ? 122 : 102;

static_assert(sizeof(DataDesc) == (kWide ? 17 : 13));
static_assert(sizeof(CallRec) == kCallRecSize);
static_assert(offsetof(CallRec, Instance) == 5);
static_assert(offsetof(CallRec, HostModuleId) == (kWide ? 13 : 9));
static_assert(offsetof(CallRec, DataSourceNo) == (kWide ? 17 : 13));
static_assert(offsetof(CallRec, ClientId) == (kWide ? 21 : 17));
static_assert(offsetof(CallRec, Roles) == (kWide ? 29 : 21));
static_assert(offsetof(CallRec, Params) == (kWide ? 30 : 22));
static_assert(offsetof(CallRec, Input) == (kWide ? 38 : 26));
static_assert(offsetof(CallRec, Output) == (kWide ? 55 : 39));
static_assert(offsetof(CallRec, ClientName) == (kWide ? 72 : 52));
static_assert(offsetof(DataDesc, Kind) == 8);
static_assert(offsetof(DataDesc, Data) == 9);

constexpr uint32_t kModuleInfoHeader = kWide ? 41 : 33;
static_assert(sizeof(ModuleInfo) == kModuleInfoHeader);
static_assert(offsetof(ModuleInfo, ModuleVersion) == 12);
static_assert(offsetof(ModuleInfo, Options) == 16);
static_assert(offsetof(ModuleInfo, TitleLen) == 17);
static_assert(offsetof(ModuleInfo, TitlePtr) == 21);
static_assert(offsetof(ModuleInfo, CommandsLen) == (kWide ? 29 : 25));
static_assert(offsetof(ModuleInfo, CommandsPtr) == (kWide ? 33 : 29));

// Descriptor kinds the host uses or meets.
constexpr uint8_t kKindRawBytes = 0;
constexpr uint8_t kKindText = 4;
constexpr uint8_t kKindEvent = 7;
constexpr uint8_t kKindListIntf = 9;

constexpr uintptr_t kEventOpened = 257;
constexpr uintptr_t kEventClosed = 258;

// Roles: 0 requests, 1 parsing (the block carries received data).
constexpr uint8_t kRoleRequests = 1;
constexpr uint8_t kRoleParsing = 2;

// Kinds of the output function.
constexpr uint32_t kSendList = 9;
constexpr uint32_t kSendBytes = 129;
constexpr uint32_t kSendText = 130;
// The output function's answer for a client whose port is not open.
constexpr int32_t kPortNotOpen = -12;

constexpr int32_t kListSignature = 0x0FDE2E4B;
constexpr int32_t kRowSeparatorType = 0xFF01;
constexpr const char* kRowSeparatorName = "$NEW_ROW$";

constexpr HRESULT kOk = 0;
constexpr HRESULT kFailed = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002);

constexpr platform::Guid kIidUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr platform::Guid kIidListA = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB1}};
constexpr platform::Guid kIidItemA = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB4}};
constexpr platform::Guid kIidItemW = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB6}};

// One named value of a list, as handed out. Counted; the caller releases it.
class IListItemA {
 public:
  virtual HRESULT QON_STDCALL QueryInterface(const platform::Guid* iid, void** out) = 0;
  virtual uint32_t QON_STDCALL AddRef() = 0;
  virtual uint32_t QON_STDCALL Release() = 0;
  virtual void QON_STDCALL SetKey(const char* key) = 0;
  virtual void QON_STDCALL SetDataType(int32_t data_type) = 0;
  virtual void QON_STDCALL SetFlags(uint8_t flags) = 0;
  virtual const char* QON_STDCALL GetKey() = 0;
  virtual int32_t QON_STDCALL GetDataType() = 0;
  virtual uint8_t QON_STDCALL GetFlags() = 0;
  virtual HRESULT QON_STDCALL SetValue(const VARIANT* value) = 0;
  virtual HRESULT QON_STDCALL GetValue(VARIANT* value) = 0;
  virtual void QON_STDCALL SetName(const char* name) = 0;
  virtual const char* QON_STDCALL GetName() = 0;
  virtual bool QON_STDCALL IsNewRow() = 0;

 protected:
  ~IListItemA() = default;
};

class IListItemW : public IListItemA {
 public:
  virtual void QON_STDCALL SetNameW(const WChar* name) = 0;
  virtual const WChar* QON_STDCALL GetNameW() = 0;
  virtual HRESULT QON_STDCALL SetValueW(const VARIANT* value) = 0;
  virtual HRESULT QON_STDCALL GetValueW(VARIANT* value) = 0;

 protected:
  ~IListItemW() = default;
};

// The narrow parameter list. Status-returning slots answer kOk or kFailed.
class IListA {
 public:
  virtual HRESULT QON_STDCALL QueryInterface(const platform::Guid* iid, void** out) = 0;
  virtual uint32_t QON_STDCALL AddRef() = 0;
  virtual uint32_t QON_STDCALL Release() = 0;
  virtual int32_t QON_STDCALL GetCount() = 0;
  virtual int32_t QON_STDCALL GetSignature() = 0;
  virtual int32_t QON_STDCALL GetTag() = 0;
  virtual void QON_STDCALL SetTag(int32_t tag) = 0;
  virtual void QON_STDCALL Clear() = 0;
  virtual void QON_STDCALL Delete(int32_t index) = 0;
  virtual bool QON_STDCALL FindEndOfRow(int32_t from, int32_t* index, bool* is_separator) = 0;
  virtual void QON_STDCALL AddNewRow() = 0;
  virtual void QON_STDCALL AddRows(void* list_wrap) = 0;
  virtual HRESULT QON_STDCALL GetItem(int32_t index, IListItemA** item) = 0;
  virtual HRESULT QON_STDCALL AddItems(void* source, bool* ok) = 0;
  virtual HRESULT QON_STDCALL AddItemsRange(void* source, int32_t from, int32_t to, bool* ok) = 0;
  virtual HRESULT QON_STDCALL FindItem(const char* name, int32_t from, int32_t to,
                                       IListItemA** item) = 0;
  virtual HRESULT QON_STDCALL IndexOf(const char* name, int32_t from, int32_t to,
                                      int32_t* index) = 0;
  virtual HRESULT QON_STDCALL GetValue(const char* name, int32_t from, int32_t to,
                                       VARIANT* value) = 0;
  virtual HRESULT QON_STDCALL GetValueDef(const char* name, const VARIANT* fallback, int32_t from,
                                          int32_t to, VARIANT* value) = 0;
  virtual HRESULT QON_STDCALL Add(const char* name, const VARIANT* value, IListItemA** item) = 0;
  virtual HRESULT QON_STDCALL Insert(int32_t index, const char* name, const VARIANT* value,
                                     IListItemA** item) = 0;
  virtual HRESULT QON_STDCALL SetValue(const char* name, const VARIANT* value, bool create,
                                       IListItemA** item) = 0;
  virtual HRESULT QON_STDCALL AddItemFrom(IListItemA* source, IListItemA** item) = 0;

 protected:
  ~IListA() = default;
};

// The library's exports.
using CallFn = int32_t(QON_STDCALL*)(CallRec* rec);
using VoidCallFn = void(QON_STDCALL*)(CallRec* rec);
using ModuleInfoFn = bool(QON_STDCALL*)(CallRec* rec, ModuleInfo* info, uint32_t* needed);
// POSIX builds only; the C convention.
using PumpFn = int32_t (*)(uint32_t max_wait_ms);

// The host's output function, looked up by the plug-in at "LOAD".
using SendDataExFn = int32_t(QON_STDCALL*)(uint32_t host_module_id, uint32_t data_source_no,
                                           uintptr_t client_id, uintptr_t reserved, uint32_t kind,
                                           const void* data, uint32_t size);

// Calls slot `slot` of the interface at `self` by position, as a host written
// in another language does: only the table and the convention.
template <class R, class... A>
R Slot(const void* self, int slot, A... args) {
  using AnyFn = void (*)();
  const AnyFn* table = *static_cast<const AnyFn* const*>(self);
  using Fn = R(QON_STDCALL*)(const void*, A...);
  return reinterpret_cast<Fn>(table[slot])(self, args...);
}

}  // namespace host
