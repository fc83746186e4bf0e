#include "platform/resources.h"

namespace platform {

bool LoadModuleResource(std::string_view name, std::string* data) {
  return detail::FindEmbeddedResource(name, data);
}

}  // namespace platform
