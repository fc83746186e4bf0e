#pragma once
// The few system services the test host needs, one implementation per
// system (chosen by the build).
#include <cstdint>
#include <string>

namespace hostos {

// The plug-in library built beside this executable.
std::string LibraryPath();
// What the host passes as "HANDLE": its own module, in which the library
// finds "Telvano_SendDataEx".
int64_t OwnModuleHandle();

// Runs the calling thread's window messages for about `ms` milliseconds of
// real time (the Windows host's message loop); nothing where the host has
// no window messages.
void PumpWindowMessages(uint32_t ms);

// For the load and unload test: whether the library at this path is loaded,
// how many threads the process has, its resident memory (0 where unknown).
bool LibraryLoaded(const std::string& path);
int ThreadCount();
int64_t ResidentBytes();
// The host's local time in the day-count date-time form: the real clock on
// Windows, the host's virtual clock elsewhere.
double LocalDateTime();

}  // namespace hostos

// The host's own services, exported from this executable by the system file.
int32_t HostSendDataEx(uint32_t host_module_id, uint32_t data_source_no, uintptr_t client_id,
                       uintptr_t reserved, uint32_t kind, const void* data, uint32_t size);
uint64_t HostTick64();
double HostLocalNow();
