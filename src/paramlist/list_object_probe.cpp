#include "paramlist/list_object_probe.h"

#include "paramlist/edge_platform.h"

bool IsParamsListObject(const void* p) noexcept {
  if (!p) return false;
  uint32_t signature = 0;
  return EdgeReadU32(static_cast<const char*>(p) + sizeof(void*), &signature) &&
         signature == kParamsListSignature;
}

TqonParamsList* AsParamsListObject(void* p) noexcept {
  return IsParamsListObject(p) ? static_cast<TqonParamsList*>(p) : nullptr;
}
