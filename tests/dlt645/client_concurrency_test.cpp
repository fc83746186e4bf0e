// The queue's handlers and the receive path share the client's state from
// two threads: the tick of the thread that made the client, and the host's
// data calls.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "client_test_support.h"

namespace {

using namespace client_test;

TEST(ClientConcurrency, TicksAndAnswersInTwoThreads) {
  ClientRig rig;
  rig.Load({{.Code = 0x02010100, .PollInterval = 20, .Timeout = 30, .Group = 1},
            {.Code = 0x02020100, .PollInterval = 20, .Timeout = 30, .Group = 1},
            {.Device = "000000000002", .Code = 0x02030000, .Enabled = false, .Group = 2}});
  rig.PortEvent(kEventPortOpened);  // the client's queue ticks in this thread

  std::atomic<bool> stop{false};
  std::atomic<size_t> fed{0};
  std::thread host([&rig, &stop, &fed] {
    const std::vector<Bytes> answers{
        Answer("000000000001", 0x02010100, {0x32, 0x22}),
        Answer("000000000001", 0x02020100, {0x00, 0x15, 0x00}),
        Answer("000000000002", 0x02030000, {0x00, 0x95, 0x12}),
        dlt645::testing::MakeFrame(dlt645::AddressFromText("000000000001"), 0xD1, {0x02}),
        dlt645::testing::MakeFrame(dlt645::AddressFromText("000000000004"), 0x9F, {})};
    for (size_t i = 0; !stop; ++i) {
      rig.Feed(answers[i % answers.size()]);
      ++fed;
      if (i % 16 == 0) std::this_thread::yield();
    }
  });
  for (int i = 0; i < 2000 || fed < 3000; ++i) {
    rig.RunFor(5, 5);
    if (i % 16 == 0) std::this_thread::yield();
  }
  stop = true;
  host.join();

  EXPECT_FALSE(rig.module.Records.empty());
  EXPECT_FALSE(rig.module.Writes.empty());
}

}  // namespace
