#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "plugin_test_support.h"

namespace {

using plugin_test::Call;
using plugin_test::Library;

// What a protocol module builds at load and state changes and frees at
// unload: data calls must never see it half gone.
struct SourceState {
  std::vector<int> values = std::vector<int>(64, 1);
};

int32_t SendData(uintptr_t h) {
  Call data(h);
  data.rec.Roles = 2;
  uint8_t byte = 0x68;
  data.rec.Input = TPluginDataDesc{0, 1, 0, reinterpret_cast<uintptr_t>(&byte)};
  return plugin_entry::ProcessData(&data.rec);
}

TEST(PluginEntryConcurrency, DataCallsWhileTheStateChanges) {
  std::unique_ptr<SourceState> state;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnLoad = [&](TqonPlugin&, TPluginCallRec*, int32_t&) {
      state = std::make_unique<SourceState>();
    };
    m.Events.OnUnload = [&](TqonPlugin&, TPluginCallRec*, int32_t&) { state.reset(); };
    m.Events.OnChangeState = [&](TqonPlugin&, uint8_t) { state = std::make_unique<SourceState>(); };
    m.Events.OnProcessData = [&](TqonPlugin& self, TPluginCallRec*, int32_t& r) {
      if (!state) return;
      int sum = 0;
      for (int v : state->values)
        sum += v;
      r = sum == 64 && self.RoleEnabled(TRole::Parsing) ? 1 : 0;
      self.Log(TLogLevel::Success, "parsed");
    };
  });
  const uintptr_t h = lib.Create();
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, served{0};
  std::vector<std::thread> data;
  for (int t = 0; t < 3; ++t) {
    data.emplace_back([&] {
      while (!stop) {
        const int32_t r = SendData(h);
        if (r == 1) ++served;
        if (r != -1 && r != 0 && r != 1) ++bad;
        // Leaves the commanding thread its share of a small machine.
        std::this_thread::yield();
      }
    });
  }
  for (int i = 0; i < 2000; ++i) {
    EXPECT_EQ(lib.Command(h, "LOAD"), 0);
    Call on;
    on.rec.Roles = 2;
    on.Set("RESULT", 1);
    EXPECT_EQ(lib.Command(h, "SET-STATE", &on), 0);
    EXPECT_EQ(lib.Command(h, "UNLOAD"), 0);
    if (i % 100 == 0) {
      Call log(h);
      plugin_entry::GetLogEx(&log.rec);
    }
  }
  stop = true;
  for (auto& t : data)
    t.join();
  EXPECT_EQ(bad, 0);
  EXPECT_FALSE(state);
}

TEST(PluginEntryConcurrency, FreeWaitsForTheCallsInFlight) {
  Library lib([](TqonPlugin& m) {
    m.Events.OnProcessData = [](TqonPlugin& self, TPluginCallRec*, int32_t& r) {
      // Long enough that the free meets calls in progress.
      for (int i = 0; i < 50; ++i)
        self.Log(TLogLevel::Success, self.Identity.LogTitle.Get() + "line");
      r = 1;
    };
  });
  const uintptr_t h = lib.Create();
  std::atomic<int> calls{0};
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (;;) {
        const int32_t r = SendData(h);
        Call log(h);
        plugin_entry::GetLogEx(&log.rec);
        if (r == -1) {
          ++refused;
          return;
        }
        ++calls;
      }
    });
  }
  while (calls < 50)
    std::this_thread::yield();
  Call free(h);
  EXPECT_EQ(plugin_entry::FreePluginInstance(&free.rec), 0);
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(refused, 3);
  EXPECT_EQ(PluginRegistry()->Count(), 0);
}

TEST(PluginEntryConcurrency, ACommandFromADataCallNeverDeadlocksAStateChange) {
  std::atomic<bool> in_call{false}, changer_started{false};
  std::atomic<int32_t> inner{1};
  Library lib([&](TqonPlugin& m) {
    m.Events.OnProcessData = [&](TqonPlugin& self, TPluginCallRec*, int32_t& r) {
      in_call = true;
      while (!changer_started)
        std::this_thread::yield();
      platform::SleepMs(50);  // let the state change start waiting
      Call c(reinterpret_cast<uintptr_t>(&self));
      c.Set("COMMAND", "EVENTS-SUPPORT");
      inner = plugin_entry::ExecutePluginCommand(&c.rec);
      r = 1;
    };
  });
  const uintptr_t h = lib.Create();
  std::thread data([&] { EXPECT_EQ(SendData(h), 1); });
  while (!in_call)
    std::this_thread::yield();
  std::thread changer([&] {
    changer_started = true;
    Call on;
    on.rec.Roles = 1;
    on.Set("RESULT", 1);
    EXPECT_EQ(lib.Command(h, "SET-STATE", &on), 0);
  });
  data.join();
  changer.join();
  EXPECT_TRUE(inner == 0 || inner == -3) << inner;
  EXPECT_TRUE(Library::Module(h).RoleEnabled(TRole::Request));
}

TEST(PluginEntryConcurrency, InstancesCreatedAndFreedFromManyThreads) {
  Library lib;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        const uintptr_t h = lib.Create();
        if (h == 0 || lib.Command(h, "LOAD") != 0) ++failures;
        Call free(h);
        if (plugin_entry::FreePluginInstance(&free.rec) != 0) ++failures;
      }
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(PluginRegistry()->Count(), 0);
}

}  // namespace
