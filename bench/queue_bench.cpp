// The queue tick with 1,000 requests: one pass over the list, no allocation.
// "allocs/tick" counts every operator new during the measured ticks.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "parser/queue_controller.h"
#include "platform/message_loop.h"
#include "platform/tick.h"

namespace {
std::atomic<uint64_t> g_allocations{0};
}  // namespace

// Not inlined, so that the compiler does not pair malloc and free with new
// and delete.
[[gnu::noinline]] void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

constexpr int kRequests = 1000;

std::unique_ptr<TQueueControllerTimer> MakeQueue(int32_t poll_interval) {
  auto queue = std::make_unique<TQueueControllerTimer>(nullptr);
  for (int i = 0; i < kRequests; ++i) {
    auto item = std::make_unique<TBasicRequestItem>();
    item->Caption = "request " + std::to_string(i);
    item->Enabled = true;
    item->Method = kMethodPoll;
    item->PollInterval = poll_interval;
    item->MaxAttempts = 3;
    queue->Requests->Add(std::move(item));
  }
  return queue;
}

// Every request was sent a moment ago: each tick visits all 1,000 and finds
// nothing to send (the common tick of a polling queue).
void BM_TickNothingDue(benchmark::State& state) {
  platform::VirtualClock clock;
  auto queue = MakeQueue(3600000);
  bool answer = false;
  queue->OnSendRequest = [&](TQueueController&, TBasicRequestItem&, uint32_t& timeout, uint32_t&) {
    timeout = 1000;
    answer = true;
    return true;
  };
  queue->Restart();
  for (int i = 0; i < kRequests; ++i) {
    queue->OnTimer();
    if (answer) queue->LockState().EndPending(1);
    answer = false;
  }
  queue->UpdateTimer(true);  // the rotation starts over: a full pass each tick
  const uint64_t before = g_allocations.load();
  for (auto _ : state)
    queue->OnTimer();  // the clock stands: nothing ever falls due
  state.counters["allocs/tick"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_TickNothingDue);

// Every tick sends one request and the answer ends it: selection over the
// list, the send handler and RequestDone.
void BM_TickSendAndAnswer(benchmark::State& state) {
  platform::VirtualClock clock;
  auto queue = MakeQueue(1000);
  queue->OnSendRequest = [](TQueueController&, TBasicRequestItem&, uint32_t& timeout,
                            uint32_t& id) {
    timeout = 1000;
    ++id;
    return true;
  };
  queue->Restart();
  uint64_t sent = 0;
  const uint64_t before = g_allocations.load();
  for (auto _ : state) {
    clock.Advance(1);
    queue->OnTimer();
    auto st = queue->LockState();
    if (st.EndPending(1)) ++sent;
  }
  state.counters["allocs/tick"] = benchmark::Counter(
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
  state.counters["sent/tick"] =
      benchmark::Counter(static_cast<double>(sent) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_TickSendAndAnswer);

// The ticks as the message loop delivers them, 1,000 requests polled every
// second: loop, timer and queue together.
void BM_TickThroughTheMessageLoop(benchmark::State& state) {
  platform::VirtualClock clock;
  auto queue = MakeQueue(1000);
  queue->OnSendRequest = [](TQueueController&, TBasicRequestItem&, uint32_t& timeout, uint32_t&) {
    timeout = 0;
    return true;
  };
  queue->Restart();
  for (auto _ : state) {
    clock.Advance(50);
    platform::PumpMessages(0);
  }
}
BENCHMARK(BM_TickThroughTheMessageLoop);

}  // namespace

BENCHMARK_MAIN();
