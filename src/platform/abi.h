#pragma once
// What the ABI edge needs from the platform: the calling convention of the
// exports and interface methods, and the GUID layout.
#include <cstdint>
#include <cstring>

#if defined(_WIN32) && !defined(_WIN64)
#define QON_STDCALL __stdcall
#else
#define QON_STDCALL
#endif

#if defined(_WIN32)
#define QON_EXPORT extern "C" __declspec(dllexport)
#else
#define QON_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace platform {

struct Guid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
  bool operator==(const Guid& o) const { return std::memcmp(this, &o, sizeof(Guid)) == 0; }
};
static_assert(sizeof(Guid) == 16, "GUID layout");

}  // namespace platform
