#include "platform/resources.h"

#include <mutex>
#include <vector>

#include "platform/strings.h"

namespace platform {
namespace {

struct Embedded {
  std::string name;
  const unsigned char* data;
  size_t size;
};

struct EmbeddedTable {
  std::mutex lock;
  std::vector<Embedded> items;
};

EmbeddedTable& Table() {
  static EmbeddedTable table;
  return table;
}

}  // namespace

void RegisterEmbeddedResource(const char* name, const unsigned char* data, size_t size) {
  auto& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  t.items.push_back(Embedded{AsciiUpperCase(name), data, size});
}

namespace detail {

bool FindEmbeddedResource(std::string_view name, std::string* data) {
  const std::string key = AsciiUpperCase(name);
  auto& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  for (const auto& e : t.items) {
    if (e.name == key) {
      data->assign(reinterpret_cast<const char*>(e.data), e.size);
      return true;
    }
  }
  return false;
}

}  // namespace detail
}  // namespace platform
