#pragma once
// VARIANT and BSTR with the Windows layout on every build. On Windows the
// functions below are oleaut32's; on POSIX they are our own: a BSTR is a
// malloc'ed block holding a 4-byte byte length, the UTF-16 text and a 2-byte
// zero, and points at the text, so any module frees it with free(b - 4).
#include <cstddef>
#include <cstdint>

namespace platform {

#if defined(_WIN32)
using WChar = wchar_t;
#else
using WChar = char16_t;
#endif
using BSTR = WChar*;
using VARTYPE = uint16_t;
using HRESULT = int32_t;

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_RECORD = 36,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  // The host's own string variant types: a byte string and a UTF-16 string
  // whose payload is a pointer to the text.
  VT_HOST_ANSI_STRING = 0x100,
  VT_HOST_UNICODE_STRING = 0x102,
};

constexpr HRESULT S_OK_ = 0;
constexpr HRESULT E_UNEXPECTED_ = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT E_NOINTERFACE_ = static_cast<HRESULT>(0x80004002);
constexpr HRESULT DISP_E_TYPEMISMATCH_ = static_cast<HRESULT>(0x80020005);
constexpr int16_t VARIANT_TRUE_ = -1;
constexpr int16_t VARIANT_FALSE_ = 0;

struct VARIANT {
  VARTYPE vt;
  uint16_t wReserved1;
  uint16_t wReserved2;
  uint16_t wReserved3;
  union {
    int64_t llVal;
    uint64_t ullVal;
    int32_t lVal;
    uint32_t ulVal;
    int16_t iVal;
    uint16_t uiVal;
    int8_t cVal;
    uint8_t bVal;
    int32_t intVal;
    uint32_t uintVal;
    float fltVal;
    double dblVal;
    double date;
    int64_t cyVal;  // currency: value times 10000
    int16_t boolVal;
    int32_t scode;
    BSTR bstrVal;
    void* punkVal;  // an interface pointer (IUnknown layout: QueryInterface, AddRef, Release)
    void* byref;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } record;
  };
};
static_assert(sizeof(VARIANT) == (sizeof(void*) == 8 ? 24 : 16), "VARIANT layout");
static_assert(offsetof(VARIANT, lVal) == 8, "VARIANT payload offset");

BSTR SysAllocString(const WChar* text);
BSTR SysAllocStringLen(const WChar* text, uint32_t length);
void SysFreeString(BSTR text);
uint32_t SysStringLen(BSTR text);

void VariantInit(VARIANT* v);
// Frees what the variant owns (BSTR, interface reference) and leaves VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
// Deep copy: BSTRs duplicated, interface references added. dst is cleared first.
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);

}  // namespace platform
