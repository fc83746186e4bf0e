// The portable message loop: one queue per thread with posted messages,
// messages sent from other threads, and timers on platform::Tick64(). Every
// window of the library is one of its windows. On POSIX the host pumps it
// (PumpMessages); on Windows the system's own message loop drives it through
// one doorbell window per thread.
#include "platform/message_loop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/debug.h"
#include "platform/message_loop_backend.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "platform/timer_table.h"

namespace platform {
namespace {

// Guards the procedure of one window. Calls run only while the gate is
// open; Close() shuts it and, from a thread other than the owner, waits for a
// call in progress to return, so nothing reaches the procedure afterwards.
// The procedure object itself is released only when no call uses it, because
// a procedure may destroy its own window.
class ProcedureGate {
 public:
  explicit ProcedureGate(MessageWindow::Procedure procedure) : procedure_(std::move(procedure)) {}

  // False when the gate is closed (result untouched).
  bool Call(uint32_t msg, uintptr_t wparam, intptr_t lparam, intptr_t* result);
  // wait: the caller is not the owner thread. While it waits it answers the
  // messages sent to its own thread, so that a procedure that sends to it
  // cannot deadlock the two.
  void Close(bool wait);
  bool Closed() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable idle_;
  MessageWindow::Procedure procedure_;
  int calls_ = 0;
  bool closed_ = false;
};

bool ProcedureGate::Call(uint32_t msg, uintptr_t wparam, intptr_t lparam, intptr_t* result) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    ++calls_;
  }
  intptr_t r = 0;
  try {
    r = procedure_(msg, wparam, lparam);
  } catch (const std::exception& e) {
    DebugOutput(std::string("Exception in a window procedure: ") + e.what());
  } catch (...) {
    DebugOutput("Exception in a window procedure");
  }
  MessageWindow::Procedure released;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--calls_ == 0) {
      if (closed_) released = std::move(procedure_);
      idle_.notify_all();
    }
  }
  if (result) *result = r;
  return true;
}

void ProcedureGate::Close(bool wait) {
  MessageWindow::Procedure released;
  std::unique_lock<std::mutex> lock(mutex_);
  closed_ = true;
  if (calls_ > 0) {
    // The owner closing from inside its own procedure: the call on its stack
    // releases the procedure when it returns.
    if (!wait) return;
    while (calls_ > 0) {
      if (idle_.wait_for(lock, std::chrono::milliseconds(10), [this] { return calls_ == 0; }))
        break;
      lock.unlock();
      detail::AnswerSentMessages();
      detail::SystemAnswerSentMessages();
      lock.lock();
    }
  }
  released = std::move(procedure_);
  lock.unlock();
}

bool ProcedureGate::Closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

struct ThreadQueue;

// One portable window; shared by the window object, the handle registry and
// the messages queued for it.
struct WindowState {
  WindowState(WindowHandle h, std::shared_ptr<ThreadQueue> q, MessageWindow::Procedure p)
      : handle(h), owner_thread(CurrentThreadId()), queue(std::move(q)), gate(std::move(p)) {}
  const WindowHandle handle;
  const uint32_t owner_thread;
  const std::shared_ptr<ThreadQueue> queue;
  ProcedureGate gate;
};

struct Posted {
  std::shared_ptr<WindowState> window;
  uint32_t msg = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  uint64_t seq = 0;
};

enum class SendStatus { Pending, Running, Done, Failed, Abandoned };

struct SentCall {
  std::shared_ptr<WindowState> window;
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
  std::shared_ptr<ThreadQueue> sender;  // its mutex guards status and result
  SendStatus status = SendStatus::Pending;
  intptr_t result = 0;
};

using Timers = TimerTable<WindowState>;
using DueTimer = Timers::Due;

// A pass over the due timers, while it runs them.
struct TimerPass {
  uint64_t now = 0;
  std::vector<DueTimer>* due = nullptr;
  size_t index = 0;            // the timer being run
  TimerPass* outer = nullptr;  // a handler may pump again
};

struct ThreadQueue : std::enable_shared_from_this<ThreadQueue> {
  explicit ThreadQueue(uint32_t id) : thread_id(id) {}
  std::mutex mutex;
  std::condition_variable wake;
  const uint32_t thread_id;
  bool dead = false;  // the thread has ended
  std::deque<Posted> posted;
  std::deque<std::shared_ptr<SentCall>> sent;
  Timers timers;
  uint64_t next_post_seq = 0;
  // The system window through which the system's loop drives this queue
  // (0 = none), whether a ring of each kind is on its way, and when its
  // system timer goes off (max = stopped; guarded by the mutex).
  std::atomic<uintptr_t> doorbell{0};
  std::atomic<bool> rung_posted{false};
  std::atomic<bool> rung_sent{false};
  uint64_t armed_due = UINT64_MAX;
  // What the doorbell ran, so that PumpMessages counts it (owner thread only).
  uint64_t doorbell_ran = 0;
  // The owner thread's list of due timers, kept so that ticks do not
  // allocate; busy while a pass uses it (a handler may pump again).
  std::vector<DueTimer> due_scratch;
  bool due_scratch_busy = false;
  // The last time timers were collected (the boundaries up to it are
  // passed) and the pass running them; guarded by the mutex.
  uint64_t collected = 0;
  TimerPass* pass = nullptr;
};

// Wakes the owner thread for what was just queued for it. False when its
// doorbell refuses the ring.
bool Wake(ThreadQueue& q, detail::DoorbellEvent event) {
  q.wake.notify_all();
  const uintptr_t doorbell = q.doorbell.load();
  if (doorbell == 0) return true;
  std::atomic<bool>& rung = event == detail::DoorbellEvent::Sent ? q.rung_sent : q.rung_posted;
  if (rung.exchange(true)) return true;  // the ring on its way covers this too
  if (detail::SystemRingDoorbell(doorbell, event)) return true;
  rung = false;
  return false;
}

void Finish(SentCall& call, bool ok, intptr_t result) {
  {
    std::lock_guard<std::mutex> lock(call.sender->mutex);
    if (call.status != SendStatus::Running) return;  // the sender gave up
    call.status = ok ? SendStatus::Done : SendStatus::Failed;
    call.result = result;
  }
  call.sender->wake.notify_all();
}

// Ends the queue with its thread: senders waiting on it are released and the
// windows it owned refuse further messages.
void Shutdown(ThreadQueue& q) {
  std::deque<std::shared_ptr<SentCall>> sent;
  std::deque<Posted> posted;
  Timers timers;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.dead = true;
    sent.swap(q.sent);
    posted.swap(q.posted);
    std::swap(timers, q.timers);
  }
  for (auto& call : sent) {
    {
      std::lock_guard<std::mutex> lock(call->sender->mutex);
      if (call->status == SendStatus::Pending) call->status = SendStatus::Failed;
    }
    call->sender->wake.notify_all();
  }
}

// The holder (whose end the thread's exit runs) is touched only where a queue
// is made; everything else reads the plain pointer, so that threads of a host
// that never use the portable loop get no exit handler from this library.
thread_local ThreadQueue* t_current = nullptr;

void EndThreadQueue(void* holder) {
  auto* queue = static_cast<std::shared_ptr<ThreadQueue>*>(holder);
  t_current = nullptr;
  Shutdown(**queue);
  delete queue;
}

ThreadQueue& CurrentQueue() {
  if (!t_current) {
    auto* holder =
        new std::shared_ptr<ThreadQueue>(std::make_shared<ThreadQueue>(CurrentThreadId()));
    t_current = holder->get();
    detail::SystemAtThreadExit(EndThreadQueue, holder);
  }
  return *t_current;
}

std::shared_ptr<ThreadQueue> CurrentQueueShared() {
  return CurrentQueue().shared_from_this();
}

// False once the queue's thread has ended (which its doorbell went with).
// Without a thread-exit handler this is how the queue learns it.
bool Alive(ThreadQueue& q) {
  const uintptr_t doorbell = q.doorbell.load();
  if (doorbell == 0 || detail::SystemDoorbellAlive(doorbell, q.thread_id)) return true;
  Shutdown(q);
  return false;
}

// Sets the doorbell's system timer to the queue's first timer. force: it has
// just gone off (system timers repeat, so it is set again even unchanged).
void Arm(ThreadQueue& q, bool force) {
  const uintptr_t doorbell = q.doorbell.load();
  if (doorbell == 0) return;
  uint64_t ms;
  {
    const uint64_t now = Tick64();
    std::lock_guard<std::mutex> lock(q.mutex);
    // Virtual time is pumped by hand; a system timer would only misfire.
    const uint64_t next = VirtualClock::Active() ? UINT64_MAX : q.timers.Next();
    if (!force && next == q.armed_due) return;
    q.armed_due = next;
    ms = next == UINT64_MAX ? UINT64_MAX : (next > now ? next - now : 0);
  }
  if (detail::SystemArmDoorbell(doorbell, ms)) return;
  // Refused: the next pass or timer change tries again.
  DebugOutput("The message loop's system timer was refused");
  std::lock_guard<std::mutex> lock(q.mutex);
  q.armed_due = UINT64_MAX;
}

// The queues that have a doorbell, for the library's unload.
struct DoorbellList {
  std::mutex mutex;
  std::vector<std::weak_ptr<ThreadQueue>> queues;
  size_t prune_at = 64;
};

// A singleton that is never destroyed (threads may still use it while other
// static objects go at exit) and that lives in the library's own storage, so
// that an unload of the library leaves no block of it on the heap.
template <class T>
T& Undestroyed() {
  alignas(T) static unsigned char storage[sizeof(T)];
  static T* const object = new (storage) T();
  return *object;
}

DoorbellList& Doorbells() {
  return Undestroyed<DoorbellList>();
}

// Gives the calling thread's queue a doorbell where the system wants one.
bool EnsureDoorbell(ThreadQueue& q) {
  if (q.doorbell.load() != 0 || !detail::SystemHasDoorbells()) return true;
  const uintptr_t doorbell = detail::SystemCreateDoorbell();
  if (doorbell == 0) return false;
  bool waiting;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.armed_due = UINT64_MAX;
    q.doorbell = doorbell;
    waiting = !q.posted.empty() || !q.sent.empty();
  }
  q.rung_posted = false;
  q.rung_sent = false;
  {
    DoorbellList& list = Doorbells();
    std::lock_guard<std::mutex> lock(list.mutex);
    if (list.queues.size() >= list.prune_at) {
      std::erase_if(list.queues, [](const std::weak_ptr<ThreadQueue>& w) { return w.expired(); });
      list.prune_at = std::max<size_t>(64, 2 * list.queues.size());
    }
    list.queues.push_back(q.weak_from_this());
  }
  // What was queued meanwhile (only after an unload of the doorbells).
  if (waiting) Wake(q, detail::DoorbellEvent::Posted);
  Arm(q, false);
  return true;
}

bool IsOwner(const WindowState& s) {
  return t_current == s.queue.get();
}

// Live portable windows by handle, so that a stale handle simply fails.
struct Registry {
  std::mutex mutex;
  std::unordered_map<WindowHandle, std::shared_ptr<WindowState>> windows;
  // Far from the values that system window handles take.
  WindowHandle next = 0x7E000000u;
};

Registry& Windows() {
  // Windows may go with other static objects at exit.
  return Undestroyed<Registry>();
}

std::shared_ptr<WindowState> Find(WindowHandle handle) {
  Registry& r = Windows();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.windows.find(handle);
  return it == r.windows.end() ? nullptr : it->second;
}

bool Delivered(uint32_t msg) {
  return msg == WM_TIMER_ || msg >= WM_USER_;
}

bool CallProcedure(WindowState& w, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                   intptr_t* result) {
  if (!Delivered(msg)) {
    if (result) *result = 0;
    return !w.gate.Closed();
  }
  return w.gate.Call(msg, wparam, lparam, result);
}

void RunSent(SentCall& call) {
  {
    std::lock_guard<std::mutex> lock(call.sender->mutex);
    if (call.status != SendStatus::Pending) return;
    call.status = SendStatus::Running;
  }
  intptr_t result = 0;
  const bool ok = CallProcedure(*call.window, call.msg, call.wparam, call.lparam, &result);
  Finish(call, ok, result);
}

int AnswerSent(ThreadQueue& q) {
  int n = 0;
  for (;;) {
    std::shared_ptr<SentCall> call;
    {
      std::lock_guard<std::mutex> lock(q.mutex);
      if (q.sent.empty()) return n;
      call = std::move(q.sent.front());
      q.sent.pop_front();
    }
    RunSent(*call);
    ++n;
  }
}

int RunPosted(ThreadQueue& q) {
  int n = 0;
  size_t count;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    count = q.posted.size();
  }
  // Only what was there at the start: a procedure that posts to itself must
  // not keep this call busy for ever.
  for (; count > 0; --count) {
    Posted p;
    {
      std::lock_guard<std::mutex> lock(q.mutex);
      if (q.posted.empty()) break;
      p = std::move(q.posted.front());
      q.posted.pop_front();
    }
    if (CallProcedure(*p.window, p.msg, p.wparam, p.lparam, nullptr)) ++n;
  }
  return n;
}

int FireDue(ThreadQueue& q, uint64_t now, std::vector<DueTimer>& due) {
  TimerPass pass;
  pass.now = now;
  pass.due = &due;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.timers.CollectDue(now, &due);
    q.collected = now;
    pass.outer = q.pass;
    q.pass = &pass;
  }
  struct EndPass {
    ThreadQueue& q;
    TimerPass& pass;
    ~EndPass() {
      std::lock_guard<std::mutex> lock(q.mutex);
      q.pass = pass.outer;
    }
  } end_pass{q, pass};
  int n = 0;
  for (size_t i = 0;; ++i) {
    DueTimer d;
    {
      // An earlier handler may have killed or reset this timer, or brought
      // another one into the pass.
      std::lock_guard<std::mutex> lock(q.mutex);
      if (i >= due.size()) break;
      d = std::move(due[i]);
      pass.index = i;
      if (!q.timers.Rearm(d, now)) continue;
    }
    if (CallProcedure(*d.owner, WM_TIMER_, d.id, 0, nullptr)) ++n;
  }
  return n;
}

int RunTimers(ThreadQueue& q) {
  const uint64_t now = Tick64();
  if (q.due_scratch_busy) {
    std::vector<DueTimer> due;
    return FireDue(q, now, due);
  }
  q.due_scratch_busy = true;
  int n = 0;
  try {
    n = FireDue(q, now, q.due_scratch);
  } catch (...) {
    q.due_scratch.clear();
    q.due_scratch_busy = false;
    throw;
  }
  q.due_scratch.clear();
  q.due_scratch_busy = false;
  return n;
}

int PumpQueue(ThreadQueue& q) {
  int n = AnswerSent(q);
  n += RunPosted(q);
  n += RunTimers(q);
  return n;
}

// Milliseconds until the first timer of the queue is due (max when none).
uint64_t UntilNextTimer(ThreadQueue& q) {
  const uint64_t now = Tick64();
  std::lock_guard<std::mutex> lock(q.mutex);
  return q.timers.Until(now);
}

bool PostTo(const std::shared_ptr<WindowState>& w, uint32_t msg, uintptr_t wparam,
            intptr_t lparam) {
  ThreadQueue& q = *w->queue;
  if (!IsOwner(*w) && !Alive(q)) return false;
  uint64_t seq;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    if (q.dead || w->gate.Closed()) return false;
    seq = ++q.next_post_seq;
    q.posted.push_back(Posted{w, msg, wparam, lparam, seq});
  }
  if (Wake(q, detail::DoorbellEvent::Posted)) return true;
  // Nothing would wake the thread for it: take the message back, unless it
  // has run already (and let it go outside the lock).
  Posted taken;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    auto it = std::find_if(q.posted.rbegin(), q.posted.rend(),
                           [seq](const Posted& p) { return p.seq == seq; });
    if (it == q.posted.rend()) return true;
    taken = std::move(*it);
    q.posted.erase(std::next(it).base());
  }
  return false;
}

bool SendTo(const std::shared_ptr<WindowState>& w, uint32_t msg, uintptr_t wparam, intptr_t lparam,
            uint32_t timeout_ms, intptr_t* result) {
  intptr_t r = 0;
  if (IsOwner(*w)) {
    if (!CallProcedure(*w, msg, wparam, lparam, &r)) return false;
    if (result) *result = r;
    return true;
  }
  const std::shared_ptr<ThreadQueue> me = CurrentQueueShared();
  auto call = std::make_shared<SentCall>();
  call->window = w;
  call->msg = msg;
  call->wparam = wparam;
  call->lparam = lparam;
  call->sender = me;
  ThreadQueue& target = *w->queue;
  if (!Alive(target)) return false;
  {
    std::lock_guard<std::mutex> lock(target.mutex);
    if (target.dead || w->gate.Closed()) return false;
    target.sent.push_back(call);
  }
  const bool rung = Wake(target, detail::DoorbellEvent::Sent);
  // Real time: the sender waits for another thread, not for the clock.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock<std::mutex> lock(me->mutex);
  for (;;) {
    if (call->status == SendStatus::Done) {
      if (result) *result = call->result;
      return true;
    }
    if (call->status == SendStatus::Failed) return false;
    if (!rung && call->status == SendStatus::Pending) {
      call->status = SendStatus::Abandoned;  // nothing would wake the owner for it
      return false;
    }
    if (!me->sent.empty()) {
      // Answer what is sent to us meanwhile: two threads sending to each
      // other must not deadlock.
      lock.unlock();
      AnswerSent(*me);
      lock.lock();
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      call->status = SendStatus::Abandoned;
      return false;
    }
    me->wake.wait_until(lock, deadline);
  }
}

class PortableWindow final : public MessageWindow {
 public:
  explicit PortableWindow(std::shared_ptr<WindowState> state) : state_(std::move(state)) {}

  ~PortableWindow() override {
    {
      Registry& r = Windows();
      std::lock_guard<std::mutex> lock(r.mutex);
      r.windows.erase(state_->handle);
    }
    state_->gate.Close(!IsOwner(*state_));
    // Whatever is still queued for the window goes; the timers first, as
    // they refer back to it.
    std::vector<std::shared_ptr<WindowState>> timers;
    std::deque<Posted> posted;
    ThreadQueue& q = *state_->queue;
    {
      std::lock_guard<std::mutex> lock(q.mutex);
      auto mine = [this](const auto& item) { return item.window == state_; };
      q.timers.RemoveOwner(state_.get(), &timers);
      auto p = std::stable_partition(q.posted.begin(), q.posted.end(),
                                     [&](const Posted& x) { return !mine(x); });
      std::move(p, q.posted.end(), std::back_inserter(posted));
      q.posted.erase(p, q.posted.end());
    }
  }

  WindowHandle Handle() const override { return state_->handle; }
  uint32_t OwnerThread() const override { return state_->owner_thread; }

  bool SetTimer(uintptr_t id, uint32_t period_ms) override {
    if (!IsOwner(*state_)) return false;
    period_ms = std::max(period_ms, USER_TIMER_MINIMUM_);
    ThreadQueue& q = *state_->queue;
    const uint64_t now = Tick64();
    bool sooner;
    {
      std::lock_guard<std::mutex> lock(q.mutex);
      if (q.dead) return false;
      sooner = q.timers.Set(state_, id, period_ms, now) < q.armed_due;
    }
    // A later timer leaves the doorbell as it is; a killed one merely makes
    // it go off once for nothing.
    if (sooner) Arm(q, false);
    return true;
  }

  bool SetTimerDue(uintptr_t id, uint64_t not_before) override {
    if (!IsOwner(*state_)) return false;
    ThreadQueue& q = *state_->queue;
    const uint64_t now = Tick64();
    bool sooner;
    {
      std::lock_guard<std::mutex> lock(q.mutex);
      if (q.dead) return false;
      const Timers::Timer* t = q.timers.Find(state_.get(), id);
      if (!t) return false;
      // Only a clock set back (a test's) finds the last pass ahead.
      const uint64_t collected = q.collected <= now ? q.collected : 0;
      // Collected by the pass that runs now: it ticks there whatever is asked.
      if (t->due <= collected) return true;
      const uint64_t period = t->period;
      const uint64_t base = t->base;
      TimerPass* pass = q.pass;
      // The boundary being run, if the timer would come after the one
      // running now: it joins the pass in its place.
      if (pass && pass->now > base && (pass->now - base) % period == 0 && pass->now >= not_before) {
        std::vector<DueTimer>& due = *pass->due;
        const DueTimer& current = due[pass->index];
        auto later = [&](const DueTimer& d) {
          return d.due != pass->now ? d.due > pass->now : d.seq > t->seq;
        };
        if (later(current) == false) {
          size_t at = pass->index + 1;
          while (at < due.size() && !later(due[at]))
            ++at;
          due.insert(due.begin() + static_cast<std::ptrdiff_t>(at),
                     DueTimer{t->owner, id, pass->now, t->seq});
          q.timers.MoveDue(state_.get(), id, pass->now);
          return true;
        }
      }
      const uint64_t from = std::max({not_before, collected + 1, base + 1});
      const uint64_t due = base + (from - base + period - 1) / period * period;
      q.timers.MoveDue(state_.get(), id, due);
      sooner = due < q.armed_due;
    }
    if (sooner) Arm(q, false);
    return true;
  }

  void KillTimer(uintptr_t id) override {
    if (!IsOwner(*state_)) return;
    ThreadQueue& q = *state_->queue;
    std::lock_guard<std::mutex> lock(q.mutex);
    q.timers.Kill(state_.get(), id);
  }

 private:
  std::shared_ptr<WindowState> state_;
};

}  // namespace

namespace detail {

int AnswerSentMessages() {
  return t_current ? AnswerSent(*t_current) : 0;
}

bool RunDoorbell(uintptr_t doorbell, DoorbellEvent event) {
  ThreadQueue* q = t_current;
  if (!q || q->doorbell.load() != doorbell) return false;
  int n = 0;
  switch (event) {
    case DoorbellEvent::Sent:
      q->rung_sent.exchange(false);
      n = AnswerSent(*q);
      break;
    case DoorbellEvent::Posted:
      q->rung_posted.exchange(false);
      n = PumpQueue(*q);
      break;
    case DoorbellEvent::Timer:
      n = PumpQueue(*q);
      break;
  }
  q->doorbell_ran += static_cast<uint64_t>(n);
  Arm(*q, event == DoorbellEvent::Timer);
  return true;
}

uintptr_t CurrentDoorbell() {
  return t_current ? t_current->doorbell.load() : 0;
}

}  // namespace detail

std::unique_ptr<MessageWindow> MessageWindow::Create(Procedure procedure) {
  std::shared_ptr<ThreadQueue> queue = CurrentQueueShared();
  if (!EnsureDoorbell(*queue)) return nullptr;
  Registry& r = Windows();
  std::lock_guard<std::mutex> lock(r.mutex);
  WindowHandle handle;
  do {
    handle = r.next++;
  } while (handle == 0 || r.windows.count(handle) != 0);
  auto state = std::make_shared<WindowState>(handle, queue, std::move(procedure));
  r.windows.emplace(handle, state);
  return std::make_unique<PortableWindow>(std::move(state));
}

void MessageWindow::Destroy(std::unique_ptr<MessageWindow> window) {
  window.reset();
}

bool PostMessageTo(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (window == 0) return false;
  if (auto w = Find(window)) return PostTo(w, msg, wparam, lparam);
  return detail::SystemPostMessage(window, msg, wparam, lparam);
}

bool SendMessageTimeoutTo(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                          uint32_t timeout_ms, intptr_t* result) {
  if (window == 0) return false;
  if (auto w = Find(window)) return SendTo(w, msg, wparam, lparam, timeout_ms, result);
  return detail::SystemSendMessageTimeout(window, msg, wparam, lparam, timeout_ms, result);
}

namespace {

// One pass over the thread's portable queue and its system messages (the
// doorbell's among them).
int PumpOnce(ThreadQueue& q) {
  int n = PumpQueue(q);
  const uint64_t ran = q.doorbell_ran;
  n += detail::SystemPumpMessages();
  n += static_cast<int>(q.doorbell_ran - ran);
  // The pass may have run the timers the doorbell was set for.
  Arm(q, false);
  return n;
}

}  // namespace

int PumpMessages(uint32_t max_wait_ms) {
  // Where the system waits for its own messages, a thread without portable
  // windows needs no queue.
  ThreadQueue* queue = detail::SystemWaitsForInput() ? t_current : &CurrentQueue();
  if (!queue) {
    int n = detail::SystemPumpMessages();
    if (n > 0 || max_wait_ms == 0 || VirtualClock::Active()) return n;
    detail::SystemWaitForInput(max_wait_ms);
    return detail::SystemPumpMessages();
  }
  ThreadQueue& q = *queue;
  int n = PumpOnce(q);
  if (n > 0 || max_wait_ms == 0 || VirtualClock::Active()) return n;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(max_wait_ms);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return 0;
    const uint64_t wait =
        std::min<uint64_t>(static_cast<uint64_t>(left.count()), UntilNextTimer(q));
    if (wait > 0) {
      if (detail::SystemWaitsForInput()) {
        detail::SystemWaitForInput(static_cast<uint32_t>(wait));
      } else {
        std::unique_lock<std::mutex> lock(q.mutex);
        q.wake.wait_for(lock, std::chrono::milliseconds(wait),
                        [&q] { return !q.posted.empty() || !q.sent.empty(); });
      }
    }
    n = PumpOnce(q);
    if (n > 0 || VirtualClock::Active()) return n;
  }
}

void ShutdownMessageWindows() {
  std::vector<uintptr_t> doorbells;
  {
    DoorbellList& list = Doorbells();
    std::lock_guard<std::mutex> lock(list.mutex);
    for (const std::weak_ptr<ThreadQueue>& w : list.queues) {
      const std::shared_ptr<ThreadQueue> q = w.lock();
      if (!q) continue;
      const uintptr_t doorbell = q->doorbell.exchange(0);
      if (doorbell != 0) doorbells.push_back(doorbell);
      std::lock_guard<std::mutex> queue_lock(q->mutex);
      q->armed_due = UINT64_MAX;
    }
    std::vector<std::weak_ptr<ThreadQueue>>().swap(list.queues);
  }
  detail::SystemShutdownDoorbells(doorbells.data(), doorbells.size());
  // The heap memory the registry holds goes with the last window, so that an
  // unloaded library leaves none behind.
  Registry& r = Windows();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.windows.empty()) decltype(r.windows)().swap(r.windows);
}

}  // namespace platform
