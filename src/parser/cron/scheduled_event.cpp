#include "parser/cron/scheduled_event.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "platform/datetime.h"
#include "platform/debug.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "threading/qon_timer_ex.h"

namespace {

constexpr int64_t kDayMs = 86400000;

int64_t NowMs() {
  return platform::DateTimeToMs(platform::LocalNow());
}

// Milliseconds from now to the date-time, 0 when it has passed.
int64_t MsUntil(double date_time) {
  return std::max<int64_t>(0, platform::DateTimeToMs(date_time) - NowMs());
}

// Timer periods are 32-bit: a moment months away is approached a day at a time.
uint32_t TimerPeriod(int64_t ms) {
  return static_cast<uint32_t>(std::clamp<int64_t>(ms, 1, kDayMs));
}

void Report(const char* where, const std::exception* e) {
  platform::DebugOutput(std::string("Scheduled event ") + where + ": " +
                        (e ? e->what() : "unknown exception"));
}

}  // namespace

// ---- TWakeEvent ------------------------------------------------------------

void TWakeEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
}

bool TWakeEvent::WaitFor(uint64_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; }))
    return false;
  signalled_ = false;
  return true;
}

// ---- dispatch bookkeeping --------------------------------------------------

// Marks a timer tick or window message of the event in the owner thread. A
// Stop inside it leaves the waiter and the window to be freed when the
// outermost one unwinds, since their code is still on the stack.
class TScheduledEvent::DispatchScope {
 public:
  explicit DispatchScope(TScheduledEvent& event) : event_(event) { ++event_.dispatch_depth_; }
  ~DispatchScope() {
    if (--event_.dispatch_depth_ == 0) event_.FreeRetired();
  }
  DispatchScope(const DispatchScope&) = delete;
  DispatchScope& operator=(const DispatchScope&) = delete;

 private:
  TScheduledEvent& event_;
};

// ---- TScheduleThread -------------------------------------------------------

TScheduleThread::TScheduleThread(TScheduledEvent& event, bool timer_mode, bool run_at_start)
    : MessageWindow(event.MessageWindow ? event.MessageWindow->Handle() : 0),
      WakeEvent(event.WakeEvent),
      RunAtStart(run_at_start),
      Event(&event) {
  TSchedule& s = event.Schedule;
  Interval = MsUntil(s.NextTime);
  if (RunAtStart && NowMs() < platform::DateTimeToMs(s.StartTime)) {
    s.Check(RunAtStart);
    Interval = MsUntil(s.NextTime);
  }
  if (timer_mode) Timer = std::make_unique<TqonTimerEx>();
}

TScheduleThread::~TScheduleThread() {
  if (thread_.joinable()) {
    Terminate();
    if (WakeEvent) WakeEvent->Set();
    thread_.join();
  }
  if (Timer && Timer->OwnerThread() != platform::CurrentThreadId()) {
    // From another thread the changes FreeTimer makes would only be posted
    // to a timer that is going away; no tick re-arms it once terminated.
    Terminate();
    Timer.reset();
  }
  FreeTimer(Timer);
}

void TScheduleThread::Run() {
  if (Timer) {
    // With run at start the first tick comes at once rather than halfway
    // to the first moment.
    Timer->SetInterval(RunAtStart ? 1 : TimerPeriod(Interval / 2));
    Timer->SetOnTimer([this](TqonTimerEx&) {
      TScheduledEvent::DispatchScope scope(*Event);
      TimerTick();
    });
    Timer->SetEnabled(true);
  } else {
    thread_ = std::thread(&TScheduleThread::Execute, this);
  }
}

void TScheduleThread::SetOnTerminate(TNotifyEvent handler) {
  std::lock_guard<std::recursive_mutex> lock(terminate_mutex_);
  on_terminate_ = std::move(handler);
}

void TScheduleThread::Terminate() {
  {
    // Waits for a tick in progress in the timer's thread, so that no tick
    // re-arms the timer once it is being freed.
    std::lock_guard<std::recursive_mutex> lock(tick_mutex_);
    terminated_ = true;
  }
  { std::lock_guard<std::mutex> lock(sync_mutex_); }
  sync_cv_.notify_all();
}

bool TScheduleThread::InWaiterThread() const {
  return thread_.joinable() && thread_.get_id() == std::this_thread::get_id();
}

bool TScheduleThread::Step() {
  TScheduledEvent& e = *Event;
  TSchedule& s = e.Schedule;
  meter_.Reset();
  Interval /= 2;
  s.Check(RunAtStart);
  if (s.State == TSchedule::kExpired) return false;
  if (s.State == TSchedule::kDue || s.State == TSchedule::kDueLast) {
    if (!e.OnSchedule) throw EScheduledEventError("OnSchedule is not defined");
    Interval = MsUntil(s.NextTime) / 2;
    switch (e.SignalType()) {
      case TScheduledEvent::kSignalWorkerThread:
        e.StartWorker();
        break;
      case TScheduledEvent::kSignalSynchronize:
        FireSynchronized();
        break;
      case TScheduledEvent::kSignalMessage:
        platform::PostMessageTo(MessageWindow, TScheduledEvent::kFireMessage, 0, 0);
        break;
      default:
        if (!e.Paused) e.Fire(nullptr);
        break;
    }
    // The handler may have stopped the event.
    if (terminated_ || s.State == TSchedule::kDueLast) return false;
  }
  SkipMissed();
  // A schedule that ran out while skipping has nothing left to wait for.
  return s.NextTime != 0;
}

void TScheduleThread::SkipMissed() {
  TSchedule& s = Event->Schedule;
  const int64_t now = NowMs();
  if (s.NextTime == 0 || platform::DateTimeToMs(s.NextTime) >= now) return;
  s.CalcNext();
  if (s.NextTime == 0 || platform::DateTimeToMs(s.NextTime) >= now) return;
  // Many moments passed (a long stall): go straight to the first one not
  // before now instead of stepping through each.
  const int64_t first_second = now / 1000 + (now % 1000 > 0 ? 1 : 0);
  s.NextTime = NextMoment(s.Entries, s.EndTime, s.StartTime,
                          platform::MsToDateTime((first_second - 1) * 1000));
}

void TScheduleThread::TimerTick() {
  std::lock_guard<std::recursive_mutex> lock(tick_mutex_);
  if (terminated_) return;
  Timer->SetEnabled(false);
  if (!Step()) return;  // the timer stays off
  Timer->SetInterval(TimerPeriod(MsUntil(Event->Schedule.NextTime)));
  Timer->SetEnabled(true);
}

void TScheduleThread::Execute() {
  try {
    while (!terminated_) {
      if (!Step()) break;
      const int64_t wait =
          std::clamp<int64_t>(Interval, 50, kDayMs) - static_cast<int64_t>(meter_.ElapsedMs());
      if (WakeEvent->WaitFor(static_cast<uint64_t>(std::max<int64_t>(0, wait)))) break;
    }
  } catch (const std::exception& e) {
    Report("thread", &e);
  } catch (...) {
    Report("thread", nullptr);
  }
  std::lock_guard<std::recursive_mutex> lock(terminate_mutex_);
  if (terminated_ || !on_terminate_) return;
  try {
    on_terminate_(*this);
  } catch (const std::exception& e) {
    Report("termination", &e);
  } catch (...) {
    Report("termination", nullptr);
  }
}

void TScheduleThread::FireSynchronized() {
  uintptr_t sequence = 0;
  {
    std::lock_guard<std::mutex> lock(sync_mutex_);
    sequence = ++sync_sequence_;
    sync_done_ = false;
  }
  if (!platform::PostMessageTo(MessageWindow, TScheduledEvent::kSyncMessage, sequence, 0)) return;
  std::unique_lock<std::mutex> lock(sync_mutex_);
  sync_cv_.wait(lock, [this] { return sync_done_ || terminated_.load(); });
}

void TScheduleThread::SyncDone(uintptr_t sequence) {
  {
    std::lock_guard<std::mutex> lock(sync_mutex_);
    if (sequence == sync_sequence_) sync_done_ = true;
  }
  sync_cv_.notify_all();
}

// ---- TScheduledEvent -------------------------------------------------------

TScheduledEvent::TScheduledEvent(std::string name) : Name(std::move(name)) {}

TScheduledEvent::~TScheduledEvent() {
  try {
    Stop();
  } catch (...) {
  }
  std::vector<Worker> workers;
  {
    std::lock_guard<std::mutex> lock(workers_mutex_);
    workers.swap(workers_);
  }
  for (Worker& w : workers) {
    if (w.thread.get_id() == std::this_thread::get_id())
      w.thread.detach();
    else
      w.thread.join();
  }
  FreeRetired();
}

void TScheduledEvent::SetSignalType(uint8_t kind) {
  if (Running) throw EScheduledEventError("Cannot change signaling type while running");
  signal_type_ = kind;
}

bool TScheduledEvent::Start(bool run_at_start) {
  if (Running) Stop();
  if (!InOwnDispatch()) FreeRetired();
  Running = false;
  Schedule.Reset();
  if (Schedule.NextTime == 0) return false;
  owner_thread_ = platform::CurrentThreadId();
  const uint8_t kind = signal_type_;
  try {
    // Set up under the lock, so that a Stop from another thread finds the
    // event either stopped or complete.
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (kind == kSignalMessage || kind == kSignalSynchronize) {
      // Type 1 runs its firings through this thread's messages as well.
      MessageWindow =
          platform::MessageWindow::Create([this](uint32_t msg, uintptr_t wparam, intptr_t lparam) {
            return WindowProc(msg, wparam, lparam);
          });
      if (!MessageWindow) throw EScheduledEventError("AllocateHWND failed");
    }
    Running = true;
    if (kind != kSignalTimer) WakeEvent = std::make_shared<TWakeEvent>();
    auto waiter = std::make_unique<TScheduleThread>(*this, kind == kSignalTimer, run_at_start);
    if (kind != kSignalTimer) {
      waiter->SetOnTerminate([this](TScheduleThread&) {
        if (Schedule.State == TSchedule::kExpired && OnExpired) OnExpired(*this);
        if (Schedule.State == TSchedule::kDueLast && OnFinished) OnFinished(*this);
      });
    }
    Waiter = std::move(waiter);
    Waiter->Run();
  } catch (...) {
    // Nothing stays half started.
    std::unique_ptr<TScheduleThread> waiter;
    std::unique_ptr<platform::MessageWindow> window;
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      waiter = std::move(Waiter);
      window = std::move(MessageWindow);
      WakeEvent.reset();
      Running = false;
    }
    waiter.reset();
    if (window) platform::MessageWindow::Destroy(std::move(window));
    throw;
  }
  if (OnStart) OnStart(*this);
  return true;
}

void TScheduledEvent::Stop() {
  std::unique_ptr<TScheduleThread> waiter;
  std::unique_ptr<platform::MessageWindow> window;
  std::shared_ptr<TWakeEvent> wake;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (!Running) return;
    waiter = std::move(Waiter);
    window = std::move(MessageWindow);
    wake = std::move(WakeEvent);
    Running = false;
  }
  if (waiter) {
    waiter->SetOnTerminate(nullptr);
    waiter->Terminate();
  }
  if (wake) wake->Set();
  if (InOwnDispatch() || (waiter && waiter->InWaiterThread())) {
    std::lock_guard<std::mutex> lock(retired_mutex_);
    if (waiter) {
      if (waiter->Timer) {
        try {
          waiter->Timer->SetEnabled(false);
        } catch (...) {
        }
      }
      retired_waiters_.push_back(std::move(waiter));
    }
    if (window) retired_windows_.push_back(std::move(window));
  } else {
    waiter.reset();  // waits for a thread waiter to end
    if (window) platform::MessageWindow::Destroy(std::move(window));
  }
  if (OnStop) OnStop(*this);
}

void TScheduledEvent::Fire(void* parameter) {
  if (!Running) return;
  uint64_t n = RunCount.load();
  do {
    if (MaxRuns != 0 && n >= MaxRuns) return;
  } while (!RunCount.compare_exchange_weak(n, n + 1));
  ++n;
  if (OnSchedule) OnSchedule(*this, parameter);
  if (MaxRuns != 0 && n == MaxRuns) {
    if (OnRunLimit) OnRunLimit(*this);
    Stop();
  }
}

intptr_t TScheduledEvent::WindowProc(uint32_t msg, uintptr_t wparam, intptr_t) {
  if (msg == kFireMessage) {
    DispatchScope scope(*this);
    if (!Paused) Fire(nullptr);
  } else if (msg == kSyncMessage) {
    DispatchScope scope(*this);
    // The waiter goes on however the firing ends.
    struct Release {
      TScheduledEvent& event;
      uintptr_t sequence;
      ~Release() {
        std::lock_guard<std::mutex> lock(event.state_mutex_);
        if (event.Waiter) event.Waiter->SyncDone(sequence);
      }
    } release{*this, wparam};
    Fire(nullptr);
  }
  return 0;
}

void TScheduledEvent::StartWorker() {
  std::lock_guard<std::mutex> lock(workers_mutex_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  workers_.push_back({std::thread([this, done] {
                        TWorkerThread(*this).Execute();
                        done->store(true);
                      }),
                      done});
}

bool TScheduledEvent::InOwnDispatch() const {
  return platform::CurrentThreadId() == owner_thread_.load() && dispatch_depth_ > 0;
}

void TScheduledEvent::FreeRetired() {
  std::vector<std::unique_ptr<TScheduleThread>> waiters;
  std::vector<std::unique_ptr<platform::MessageWindow>> windows;
  {
    std::lock_guard<std::mutex> lock(retired_mutex_);
    for (auto it = retired_waiters_.begin(); it != retired_waiters_.end();) {
      if ((*it)->InWaiterThread()) {
        ++it;
      } else {
        waiters.push_back(std::move(*it));
        it = retired_waiters_.erase(it);
      }
    }
    windows.swap(retired_windows_);
  }
  waiters.clear();
  for (auto& w : windows)
    platform::MessageWindow::Destroy(std::move(w));
}

// ---- TWorkerThread ---------------------------------------------------------

void TWorkerThread::Execute() {
  try {
    Event->Fire(nullptr);
  } catch (const std::exception& e) {
    Report("worker", &e);
  } catch (...) {
    Report("worker", nullptr);
  }
}

// ---- TSchEventList ---------------------------------------------------------

TScheduledEvent& TSchEventList::Add(const std::string& name) {
  items_.push_back(std::make_unique<TScheduledEvent>(name));
  TScheduledEvent& event = *items_.back();
  if (OnAdd) OnAdd(*this, event);
  return event;
}

void TSchEventList::Clear() {
  while (!items_.empty())
    items_.pop_back();
}
