#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "plugin_host.h"

namespace {

using host::Call;
using host::Instance;
using host::Value;

TEST(E2eConcurrency, DataFromSeveralThreadsWhileTheHostLoadsAndUnloads) {
  ASSERT_TRUE(host::Library::Get().Loaded()) << host::Library::Get().Error();
  const host::PluginLibrary& fns = host::Library::Get().Fns();
  Instance a;
  std::atomic<bool> stop{false};
  std::atomic<int> unexpected{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      uint8_t frame[] = {0xFE, 0x68, 0x16};
      while (!stop) {
        Call data(a.Handle());
        data.rec.Roles = 2;
        data.rec.ClientId = 7;
        data.rec.Input = host::DataDesc{0, 3, 0, reinterpret_cast<uintptr_t>(frame)};
        const int32_t r = fns.ProcessData(&data.rec);
        if (r != 0 && r != -1) ++unexpected;
        Call log(a.Handle());
        fns.GetLogEx(&log.rec);
        std::this_thread::yield();
      }
    });
  }
  // Every state change makes window timers on Windows, which wine makes
  // slow: fewer cycles there (the thread checks run natively).
  const int cycles = fns.PumpPluginMessages ? 2000 : 300;
  for (int i = 0; i < cycles; ++i) {
    Call load(a.Handle(), "LOAD");
    load.Set("HANDLE", Value::Int64(0));
    if (a.Command(load) != 0) ++unexpected;
    Call on(a.Handle(), "SET-STATE");
    on.rec.Roles = 3;
    on.Set("DATA-SOURCES-IN-CFG", Value::Text("1;COM1;\r\n2;COM2;"))
        .Set("RESULT", Value::Int(i % 2));
    if (a.Command(on) != 0) ++unexpected;
    Call event(a.Handle(), "EVENT");
    event.Set("EVENT-TYPE", Value::Text(i % 3 ? "PORT-OPEN" : "PORT-CLOSE"))
        .Set("PORTSTR", Value::Text("COM2"));
    if (a.Command(event) != 0) ++unexpected;
    if (a.Command("UNLOAD") != 0) ++unexpected;
  }
  stop = true;
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(unexpected, 0);
  EXPECT_EQ(a.Free(), 0);
}

}  // namespace
