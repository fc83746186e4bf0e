#pragma once
// Loading a library by its file name, for programs that host the plug-in.
#include <string>

#include "platform/module.h"

namespace platform {

// LoadLibrary / dlopen(RTLD_NOW | RTLD_LOCAL); 0 with the system's message.
ModuleHandle LoadLibraryFile(const std::string& path, std::string* error);
void FreeLibraryFile(ModuleHandle library);

}  // namespace platform
