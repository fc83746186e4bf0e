#pragma once
// The records that cross the library's edge with every export: the call
// record, its two data descriptors and the module information record. Packed;
// pointer-sized fields are 4 bytes on 32-bit and 8 bytes on 64-bit builds.
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct TPluginDataDesc {
  uint32_t Count;
  uint32_t Size;
  uint8_t Kind;
  uintptr_t Data;
};

struct TPluginCallRec {
  uint32_t Size;
  uint8_t Flags;
  uintptr_t Instance;
  uint32_t HostModuleId;
  uint32_t DataSourceNo;
  uintptr_t ClientId;
  uint8_t Roles;
  uintptr_t Params;
  TPluginDataDesc Input;
  TPluginDataDesc Output;
  char ClientName[50];
};

struct TPluginModuleInfo {
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

constexpr bool kWidePointers = sizeof(void*) == 8;
constexpr uint32_t kCallRecSize = kWidePointers ? 122 : 102;
constexpr uint32_t kModuleInfoHeaderSize = kWidePointers ? 41 : 33;

static_assert(sizeof(TPluginDataDesc) == (kWidePointers ? 17 : 13));
static_assert(offsetof(TPluginDataDesc, Size) == 4);
static_assert(offsetof(TPluginDataDesc, Kind) == 8);
static_assert(offsetof(TPluginDataDesc, Data) == 9);

static_assert(sizeof(TPluginCallRec) == kCallRecSize);
static_assert(offsetof(TPluginCallRec, Flags) == 4);
static_assert(offsetof(TPluginCallRec, Instance) == 5);
static_assert(offsetof(TPluginCallRec, HostModuleId) == (kWidePointers ? 13 : 9));
static_assert(offsetof(TPluginCallRec, DataSourceNo) == (kWidePointers ? 17 : 13));
static_assert(offsetof(TPluginCallRec, ClientId) == (kWidePointers ? 21 : 17));
static_assert(offsetof(TPluginCallRec, Roles) == (kWidePointers ? 29 : 21));
static_assert(offsetof(TPluginCallRec, Params) == (kWidePointers ? 30 : 22));
static_assert(offsetof(TPluginCallRec, Input) == (kWidePointers ? 38 : 26));
static_assert(offsetof(TPluginCallRec, Output) == (kWidePointers ? 55 : 39));
static_assert(offsetof(TPluginCallRec, ClientName) == (kWidePointers ? 72 : 52));

static_assert(sizeof(TPluginModuleInfo) == kModuleInfoHeaderSize);
static_assert(offsetof(TPluginModuleInfo, Capabilities) == 4);
static_assert(offsetof(TPluginModuleInfo, InterfaceVersion) == 8);
static_assert(offsetof(TPluginModuleInfo, ModuleVersion) == 12);
static_assert(offsetof(TPluginModuleInfo, Options) == 16);
static_assert(offsetof(TPluginModuleInfo, TitleLen) == 17);
static_assert(offsetof(TPluginModuleInfo, TitlePtr) == 21);
static_assert(offsetof(TPluginModuleInfo, CommandsLen) == (kWidePointers ? 29 : 25));
static_assert(offsetof(TPluginModuleInfo, CommandsPtr) == (kWidePointers ? 33 : 29));

// Descriptor kinds.
enum : uint8_t {
  kKindListObject = 1,    // a TqonParamsList object, recognised by its signature
  kKindDialogLength = 2,  // bytes written into the host's buffer
  kKindText = 4,          // byte text of Size bytes
  kKindStatus = 5,        // a plain status or length value
  kKindUnload = 6,        // with Data 0xFF01: the host unloads the library
  kKindEvent = 7,         // a host event code in Data
  kKindListObject2 = 8,   // a TqonParamsList object
  kKindListIntf = 9,      // a pointer to a variable holding an IqonParamsListA
};

// Host event codes of kind-7 blocks.
constexpr uintptr_t kEventPortOpened = 257;
constexpr uintptr_t kEventPortClosed = 258;

constexpr uint32_t kListSignature = 0x0FDE2E4B;
