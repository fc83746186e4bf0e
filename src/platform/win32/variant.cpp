#include <windows.h>
#include <oleauto.h>

#include <cstddef>

#include "platform/variant.h"

namespace platform {

static_assert(sizeof(platform::VARIANT) == sizeof(::VARIANT), "VARIANT size");
static_assert(offsetof(platform::VARIANT, lVal) == offsetof(::VARIANT, lVal), "VARIANT payload");

BSTR SysAllocString(const WChar* text) { return ::SysAllocString(text); }
BSTR SysAllocStringLen(const WChar* text, uint32_t length) {
  return ::SysAllocStringLen(text, length);
}
void SysFreeString(BSTR text) { ::SysFreeString(text); }
uint32_t SysStringLen(BSTR text) { return ::SysStringLen(text); }

void VariantInit(VARIANT* v) { ::VariantInit(reinterpret_cast<::VARIANT*>(v)); }
HRESULT VariantClear(VARIANT* v) { return ::VariantClear(reinterpret_cast<::VARIANT*>(v)); }
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  if (dst == src) return S_OK;
  ::VARIANT tmp;
  ::VariantInit(&tmp);
  HRESULT hr = ::VariantCopy(&tmp, const_cast<::VARIANT*>(reinterpret_cast<const ::VARIANT*>(src)));
  if (FAILED(hr)) return hr;
  ::VariantClear(reinterpret_cast<::VARIANT*>(dst));
  *reinterpret_cast<::VARIANT*>(dst) = tmp;
  return S_OK;
}

}  // namespace platform
