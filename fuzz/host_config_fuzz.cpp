// Random text through the host's check of a query configuration, and the
// same text through the plug-in's own loader. Checks that nothing reads
// outside the text, that a refusal says why, and that the check tells the
// user the truth about what the plug-in then loads: when it counts no
// request the plug-in loads none, and every function the plug-in asks for
// is among the check's functions (the host's columns).
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/object_list.h"
#include "base/str_to_int.h"
#include "dlt645/query_config.h"
#include "dlt645/request_item.h"
#include "fuzz_check.h"
#include "host_config.h"
#include "parser/basic_request_item.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)host::XmlSyntaxError(text);

  host::ConfigCheck check;
  std::string error;
  if (!host::CheckQueryConfig(text, &check, &error)) {
    Check(!error.empty(), "a refusal says why");
    return 0;
  }
  Check(check.requests >= 0, "request count");
  for (size_t i = 0; i < check.functions.size(); ++i)
    for (size_t j = i + 1; j < check.functions.size(); ++j)
      Check(!(check.functions[i] == check.functions[j]), "each function once");

  TObjectList<TBasicRequestItem> list;
  ReadQueryConfig(check.xml, list);
  if (check.requests == 0 && list.Count() != 0)
    std::fprintf(stderr, "the check counted no request, the plug-in loaded %d\n", list.Count());
  Check(check.requests > 0 || list.Count() == 0, "no request counted, none loaded");
  for (int i = 0; i < list.Count(); ++i) {
    const auto* item = static_cast<const TRequestItem*>(list[i]);
    int32_t code = 0;
    Check(TryStrToInt("$" + item->Parameters.FunctionText, &code), "function code");
    const bool known = std::any_of(
        check.functions.begin(), check.functions.end(),
        [&](const host::ConfiguredFunction& f) { return f.code == static_cast<uint32_t>(code); });
    if (!known)
      std::fprintf(stderr, "function %s loaded but not among the check's\n",
                   item->Parameters.FunctionText.c_str());
    Check(known, "every loaded function is among the check's");
  }
  return 0;
}
