#include <cstdlib>
#include <cstring>

#include "platform/variant.h"

namespace platform {
namespace {

using UnknownCall = uint32_t (*)(void*);

uint32_t CallUnknownSlot(void* unknown, int slot) {
  auto** vtable = *static_cast<UnknownCall**>(unknown);
  return vtable[slot](unknown);
}

}  // namespace

BSTR SysAllocStringLen(const WChar* text, uint32_t length) {
  if (length > (0x7FFFFFFFu - 6) / 2) return nullptr;
  const uint32_t bytes = length * 2;
  auto* block = static_cast<char*>(std::malloc(4 + bytes + 2));
  if (!block) return nullptr;
  std::memcpy(block, &bytes, 4);
  auto* out = reinterpret_cast<WChar*>(block + 4);
  if (text) std::memcpy(out, text, bytes);
  out[length] = 0;
  return out;
}

BSTR SysAllocString(const WChar* text) {
  if (!text) return nullptr;
  uint32_t n = 0;
  while (text[n]) ++n;
  return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<char*>(text) - 4);
}

uint32_t SysStringLen(BSTR text) {
  if (!text) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - 4, 4);
  return bytes / 2;
}

void VariantInit(VARIANT* v) { std::memset(v, 0, sizeof(VARIANT)); }

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_UNEXPECTED_;
  if ((v->vt & VT_BYREF) == 0) {
    switch (v->vt) {
      case VT_BSTR:
        SysFreeString(v->bstrVal);
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        if (v->punkVal) CallUnknownSlot(v->punkVal, 2);
        break;
      default:
        break;
    }
  }
  std::memset(v, 0, sizeof(VARIANT));
  return S_OK_;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  if (!dst || !src) return E_UNEXPECTED_;
  if (dst == src) return S_OK_;
  VARIANT copy;
  std::memcpy(&copy, src, sizeof(VARIANT));
  if ((src->vt & VT_BYREF) == 0) {
    if (src->vt == VT_BSTR && src->bstrVal) {
      copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
      if (!copy.bstrVal) return E_UNEXPECTED_;
    } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal) {
      CallUnknownSlot(src->punkVal, 1);
    }
  }
  VariantClear(dst);
  std::memcpy(dst, &copy, sizeof(VARIANT));
  return S_OK_;
}

}  // namespace platform
