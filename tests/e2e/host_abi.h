#pragma once
// The plug-in interface as a host application declares it on its side,
// written from the published layouts only. HOST_STDCALL is the standard
// calling convention on 32-bit Windows and empty elsewhere (set by the build).
#include <cstddef>
#include <cstdint>

namespace host {

constexpr bool kWide = sizeof(void*) == 8;

#pragma pack(push, 1)
struct Desc {
  uint32_t Count;
  uint32_t Size;
  uint8_t Kind;
  uintptr_t Data;
};
struct Rec {
  uint32_t Size;
  uint8_t Flags;
  uintptr_t Instance;
  uint32_t HostModuleId;
  uint32_t DataSourceNo;
  uintptr_t ClientId;
  uint8_t Roles;
  uintptr_t Params;
  Desc Input;
  Desc Output;
  char ClientName[50];
};
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

constexpr uint32_t kRecSize = kWide ? 122 : 102;
constexpr uint32_t kInfoHeader = kWide ? 41 : 33;
static_assert(sizeof(Rec) == kRecSize);
static_assert(offsetof(Rec, Params) == (kWide ? 30 : 22));
static_assert(offsetof(Rec, ClientName) == (kWide ? 72 : 52));
static_assert(sizeof(ModuleInfo) == kInfoHeader);

// VARIANT with the Windows layout.
struct Variant {
  uint16_t vt;
  uint16_t reserved[3];
  union {
    int64_t llVal;
    int32_t lVal;
    uint32_t ulVal;
    double dblVal;
    int16_t boolVal;
    char16_t* bstrVal;
    void* byref;
    struct {
      void* a;
      void* b;
    } record;
  };
};
static_assert(sizeof(Variant) == (kWide ? 24 : 16));

enum : uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
};

using HResult = int32_t;
constexpr HResult kOk = 0;
constexpr HResult kFail = static_cast<HResult>(0x8000FFFF);
constexpr HResult kNoInterface = static_cast<HResult>(0x80004002);

// The exports.
using CreateFn = int32_t(HOST_STDCALL*)(Rec*);
using RecFn = int32_t(HOST_STDCALL*)(Rec*);
using VoidRecFn = void(HOST_STDCALL*)(Rec*);
using ModuleInfoFn = bool(HOST_STDCALL*)(Rec*, ModuleInfo*, uint32_t*);
using PumpFn = int32_t (*)(uint32_t);

// Calls slot `slot` of the interface at `self` by position.
template <class R, class... A>
R Slot(const void* self, int slot, A... args) {
  using AnyFn = void (*)();
  const AnyFn* table = *static_cast<const AnyFn* const*>(self);
  using Fn = R(HOST_STDCALL*)(const void*, A...);
  return reinterpret_cast<Fn>(table[slot])(self, args...);
}

}  // namespace host
