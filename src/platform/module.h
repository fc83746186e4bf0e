#pragma once
// Loaded modules: look-up of functions by name, the library's own file.
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// HMODULE on Windows; a dlopen handle on POSIX. 0 = none.
using ModuleHandle = uintptr_t;

// The already loaded module of that name (GetModuleHandle / dlopen with
// RTLD_NOLOAD; on POSIX the program's own file or base name gives the program,
// as on Windows); 0 when none. The handle holds no reference.
ModuleHandle FindLoadedModule(const std::string& name);
void* FindProcedure(ModuleHandle module, const char* name);
// The full file name of the module that contains the address (of this library when 0).
std::string ModuleFileName(const void* address_in_module = nullptr);
// The host program's full file name.
std::string ProgramFileName();
// The program's command-line arguments (without the program itself).
std::vector<std::string> ProgramArguments();

}  // namespace platform
