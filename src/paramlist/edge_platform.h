#pragma once
// The few platform services the parameter lists use at the ABI edge, behind
// one seam so that tests can watch the debugger output.
#include <cstddef>
#include <cstdint>
#include <string_view>

using ParamsListDebugSink = void (*)(std::string_view text);

// Where misuse reports go: the debugger output unless replaced. Answers the
// previous sink.
ParamsListDebugSink SetParamsListDebugSink(ParamsListDebugSink sink);
void ParamsListDebugOutput(std::string_view text);

// Fault-safe reads of foreign memory (pointers a host hands in). Each costs
// a system call on some platforms.
bool EdgeReadU32(const void* address, uint32_t* value);
bool EdgeReadPointer(const void* address, uintptr_t* value);
bool EdgeReadPointers(const void* address, uintptr_t* values, size_t count);
// How many such reads the calling thread has made (for tests).
uint64_t EdgeReadCount();
