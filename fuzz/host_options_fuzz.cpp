// Random arguments through the host's command line. Checks that nothing
// reads outside them, that a refusal says why, and that what is accepted is
// sound: ports that parse again to the same definition, numbers that are
// numbers.
//
// Input: the arguments, separated by NUL bytes.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "host_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  size_t begin = 0;
  while (begin <= all.size() && args.size() < 64) {
    size_t end = all.find('\0', begin);
    if (end == std::string_view::npos) end = all.size();
    args.emplace_back(all.substr(begin, end - begin));
    begin = end + 1;
  }

  host::HostOptions options;
  std::string error;
  if (!host::ParseHostOptions(args, &options, &error)) {
    Check(!error.empty(), "a refusal says why");
    return 0;
  }
  for (const host::PortSpec& port : options.ports) {
    host::PortSpec again;
    std::string why;
    Check(host::ParsePortSpec(port.text, &again, &why), "an accepted port parses again");
    Check(again.kind == port.kind && again.host == port.host && again.port == port.port &&
              again.device == port.device && again.baud == port.baud,
          "the same port");
  }
  for (const double v : {options.duration_s, options.event_every_s, options.stats_every_s,
                         options.store_retention_days})
    Check(std::isfinite(v) && v >= 0, "durations are finite and not negative");
  (void)host::ConfigIdOf(options.section);
  return 0;
}
