#include "paramlist/edge_platform.h"

#include <atomic>

#include "platform/debug.h"

namespace {

void DefaultSink(std::string_view text) {
  platform::DebugOutput(text);
}

std::atomic<ParamsListDebugSink> g_sink{&DefaultSink};
thread_local uint64_t t_edge_reads = 0;

}  // namespace

ParamsListDebugSink SetParamsListDebugSink(ParamsListDebugSink sink) {
  return g_sink.exchange(sink ? sink : &DefaultSink);
}

void ParamsListDebugOutput(std::string_view text) {
  g_sink.load()(text);
}

bool EdgeReadU32(const void* address, uint32_t* value) {
  ++t_edge_reads;
  return platform::SafeReadU32(address, value);
}

bool EdgeReadPointer(const void* address, uintptr_t* value) {
  ++t_edge_reads;
  return platform::SafeReadPointer(address, value);
}

bool EdgeReadPointers(const void* address, uintptr_t* values, size_t count) {
  ++t_edge_reads;
  return platform::SafeReadPointers(address, values, count);
}

uint64_t EdgeReadCount() {
  return t_edge_reads;
}
