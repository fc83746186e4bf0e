#pragma once
// Raw-data resources of this library, looked up by name (case-insensitive):
// RCDATA of the library's own module on Windows; on POSIX byte arrays that the
// generated resource code registers at start-up.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// False when there is no resource of that name.
bool LoadModuleResource(std::string_view name, std::string* data);

// Makes an embedded resource known under its (upper-case) name. The data must
// live as long as the program.
void RegisterEmbeddedResource(const char* name, const unsigned char* data, size_t size);

namespace detail {
bool FindEmbeddedResource(std::string_view name, std::string* data);
}  // namespace detail

}  // namespace platform
