#include "platform/named_lock.h"

#include <cstdint>
#include <cstdio>

namespace platform::detail {

std::string LockObjectName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-' || c == '.';
    out += plain ? ch : '_';
  }
  if (out.empty() || out[0] == '.') out.insert(out.begin(), '_');
  constexpr size_t kMax = 160;
  if (out.size() > kMax || out != name) {
    // FNV-1a of the original name keeps distinct names apart after mapping.
    uint64_t h = 1469598103934665603ull;
    for (char ch : name) {
      h ^= static_cast<unsigned char>(ch);
      h *= 1099511628211ull;
    }
    char tail[24];
    std::snprintf(tail, sizeof tail, "-%016llx", static_cast<unsigned long long>(h));
    if (out.size() > kMax) out.resize(kMax);
    out += tail;
  }
  return out;
}

}  // namespace platform::detail
