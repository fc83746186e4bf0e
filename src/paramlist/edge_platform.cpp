#include "paramlist/edge_platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Stand-in for the platform's debugger output until it is linked in.
void DefaultSink(std::string_view text) {
  if (!std::getenv("DLT645_DEBUG")) return;
  std::string line(text);
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

std::atomic<ParamsListDebugSink> g_sink{&DefaultSink};

}  // namespace

ParamsListDebugSink SetParamsListDebugSink(ParamsListDebugSink sink) {
  return g_sink.exchange(sink ? sink : &DefaultSink);
}

void ParamsListDebugOutput(std::string_view text) {
  g_sink.load()(text);
}

// Stand-ins for the platform's fault-safe reads until they are linked in.
bool EdgeReadU32(const void* address, uint32_t* value) {
  if (!address) return false;
  std::memcpy(value, address, sizeof *value);
  return true;
}

bool EdgeReadPointer(const void* address, uintptr_t* value) {
  if (!address) return false;
  std::memcpy(value, address, sizeof *value);
  return true;
}
