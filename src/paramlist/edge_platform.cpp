#include "paramlist/edge_platform.h"

#include <atomic>

#include "platform/debug.h"

namespace {

void DefaultSink(std::string_view text) {
  platform::DebugOutput(text);
}

std::atomic<ParamsListDebugSink> g_sink{&DefaultSink};

}  // namespace

ParamsListDebugSink SetParamsListDebugSink(ParamsListDebugSink sink) {
  return g_sink.exchange(sink ? sink : &DefaultSink);
}

void ParamsListDebugOutput(std::string_view text) {
  g_sink.load()(text);
}

bool EdgeReadU32(const void* address, uint32_t* value) {
  return platform::SafeReadU32(address, value);
}

bool EdgeReadPointer(const void* address, uintptr_t* value) {
  return platform::SafeReadPointer(address, value);
}
