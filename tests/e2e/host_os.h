#pragma once
// The few system services the test host needs, one implementation per
// system (chosen by the build).
#include <cstdint>
#include <string>

namespace hostos {

// The plug-in library built beside this executable.
std::string LibraryPath();
void* LoadLibraryFile(const std::string& path, std::string* error);
void FreeLibraryFile(void* library);
void* FindExport(void* library, const char* name);
// What the host passes as "HANDLE": its own module, in which the library
// finds "Telvano_SendDataEx".
int64_t OwnModuleHandle();

// BSTRs as the system allocates them.
char16_t* AllocBstr(const char16_t* text, uint32_t length);
void FreeBstr(char16_t* text);
uint32_t BstrLength(const char16_t* text);

}  // namespace hostos

// The host's own services, exported from this executable by the system file.
int32_t HostSendDataEx(uint32_t host_module_id, uint32_t data_source_no, uintptr_t client_id,
                       uintptr_t reserved, uint32_t kind, const void* data, uint32_t size);
uint64_t HostTick64();
double HostLocalNow();
