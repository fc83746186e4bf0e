// Random text through the plug-in's query configuration loader. Checks
// that nothing reads outside the text, that every loaded request names a
// device and a function, that the listen-only count is told both ways, and
// that what it logs is said in words.
#include <atomic>
#include <cstdint>
#include <string>

#include "base/object_list.h"
#include "dlt645/query_config.h"
#include "dlt645/request_item.h"
#include "fuzz_check.h"
#include "parser/basic_request_item.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TObjectList<TBasicRequestItem> list;
  std::atomic<int> listen_only{0};
  const int returned =
      ReadQueryConfig(text, list, nullptr, &listen_only,
                      [](TLogLevel, const std::string& line) { Check(!line.empty(), "log text"); });
  Check(returned >= 0 && returned == listen_only, "listen-only count");
  for (int i = 0; i < list.Count(); ++i) {
    const auto* item = static_cast<const TRequestItem*>(list[i]);
    Check(!item->Parameters.DeviceText.empty(), "device");
    Check(item->Parameters.FuncType != nullptr, "function");
  }
  return 0;
}
