#pragma once
// Telling a list object apart from an interface variable at the ABI edge,
// on its own so that the wrap and the edge helpers can both use it.
#include "paramlist/params_list.h"

// True when p points at a TqonParamsList object: the list signature sits in
// the field after its vtable pointer. Anything else (an interface variable)
// answers false; the probe never faults on foreign memory.
bool IsParamsListObject(const void* p) noexcept;
TqonParamsList* AsParamsListObject(void* p) noexcept;
