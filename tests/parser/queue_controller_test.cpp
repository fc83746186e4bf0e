#include "parser/queue_controller.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "paramlist/params_list.h"
#include "parser/cron/queue_schedule.h"
#include "parser/cron/schedule.h"
#include "sched_test_support.h"

namespace {

using sched_test::Item;
using sched_test::RunFor;

// A bare timer queue whose send handler logs "caption@ms" (ms since the
// start of the test) and answers as the test says.
class QueueTest : public ::testing::Test {
 protected:
  QueueTest() : start_(clock.Tick()) {
    queue.OnSendRequest = [this](TQueueController&, TBasicRequestItem& item, uint32_t& timeout,
                                 uint32_t& request_id) {
      if (throw_on_send) throw std::runtime_error("port gone");
      if (!send_result) return false;
      sent.push_back(item.Caption + "@" + std::to_string(clock.Tick() - start_));
      timeout = answer_timeout;
      ++request_id;
      if (answer_at_once) answer_next = true;
      return true;
    };
  }

  void Add(std::unique_ptr<TBasicRequestItem> item) { queue.Requests->Add(std::move(item)); }

  // Runs ms of virtual time; answers every request one tick after it went out
  // when answer_at_once is set.
  void Run(uint64_t ms, uint64_t step = 10) {
    for (uint64_t t = 0; t < ms; t += step) {
      if (answer_next) {
        answer_next = false;
        queue.LockState().EndPending(1);
      }
      clock.Advance(step);
      platform::PumpMessages(0);
    }
  }

  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (const std::string& s : sent)
      out.push_back(s.substr(0, s.find('@')));
    return out;
  }

  platform::VirtualClock clock;
  TQueueControllerTimer queue{nullptr};
  std::vector<std::string> sent;
  uint32_t answer_timeout = 0;
  bool answer_at_once = true;
  bool answer_next = false;
  bool send_result = true;
  bool throw_on_send = false;

 private:
  uint64_t start_;
};

TEST_F(QueueTest, TwoPollItemsGoOneAfterTheOtherThenAlternate) {
  answer_timeout = 300;
  Add(Item("A", kMethodPoll, 1000));
  Add(Item("B", kMethodPoll, 1000));
  queue.Restart();
  Run(3200);
  EXPECT_EQ(sent, (std::vector<std::string>{"A@50", "B@100", "A@1050", "B@1100", "A@2050", "B@2100",
                                            "A@3050", "B@3100"}));
}

TEST_F(QueueTest, AnAnswerTimeOutOfZeroNeverWaits) {
  answer_at_once = false;
  Add(Item("A", kMethodPoll, 1000));
  Add(Item("B", kMethodPoll, 1000));
  queue.Restart();
  Run(100);
  EXPECT_EQ(sent, (std::vector<std::string>{"A@50", "B@100"}));
  auto state = queue.LockState();
  EXPECT_EQ(state.Pending()->Caption, "B");
  EXPECT_FALSE(state.Awaited());
}

TEST_F(QueueTest, ItemsAfterThePositionGoFirstThenTheVisitWraps) {
  answer_timeout = 300;
  Add(Item("A", kMethodPoll, 100));
  Add(Item("B", kMethodPoll, 1000));
  queue.Restart();
  Run(1300);
  // A keeps its 100 ms period behind the slow B; B goes first when both are
  // ready because it comes after the last item sent.
  EXPECT_EQ(Captions(), (std::vector<std::string>{"A", "B", "A", "A", "A", "A", "A", "A", "A", "A",
                                                  "A", "A", "B", "A", "A"}));
  EXPECT_EQ(sent[12], "B@1100");
}

TEST_F(QueueTest, AMinutePollInFrontOfAnHourlyCronItemIsNeverHeldUp) {
  Add(Item("reading", kMethodPoll, 60000));
  Add(Item("energy", kMethodCron));
  queue.Restart();
  for (int hour = 0; hour < 2; ++hour) {
    Run(3600000, 1000);
    queue.LockState().Items()[1]->Due = true;  // what its scheduled event does
  }
  Run(1000, 1000);
  std::vector<uint64_t> readings;
  std::vector<std::string> energy;
  for (const std::string& s : sent) {
    const uint64_t at = std::stoull(s.substr(s.find('@') + 1));
    if (s.rfind("reading@", 0) == 0)
      readings.push_back(at);
    else
      energy.push_back(s);
  }
  EXPECT_EQ(energy, (std::vector<std::string>{"energy@3601000", "energy@7201000"}));
  ASSERT_GE(readings.size(), 120u);
  for (size_t i = 1; i < readings.size(); ++i)
    EXPECT_LE(readings[i] - readings[i - 1], 61000u) << i;
}

TEST_F(QueueTest, ItemsAfterThePositionThatCanNeverGoDoNotStopPolling) {
  answer_timeout = 300;
  Add(Item("A", kMethodPoll, 100));
  Add(Item("once", kMethodOnce));
  Add(Item("listen", kMethodPoll, 100, /*enabled=*/false));
  queue.Restart();
  Run(1000);
  std::vector<std::string> captions = Captions();
  ASSERT_GE(captions.size(), 8u);
  EXPECT_EQ(captions[0], "A");
  EXPECT_EQ(captions[1], "once");
  EXPECT_EQ(std::count(captions.begin(), captions.end(), "once"), 1);
  // After the finished Once item the rotation starts again at A.
  for (size_t i = 2; i < captions.size(); ++i)
    EXPECT_EQ(captions[i], "A");
}

TEST_F(QueueTest, ASilentRequestIsSentMaxAttemptsTimesEachAfterItsTimeOut) {
  answer_at_once = false;
  answer_timeout = 200;
  Add(Item("A", kMethodPoll, 60000, true, 3));
  std::vector<bool> retries;
  queue.OnTimeout = [&](TQueueController&, TBasicRequestItem& item, bool& retry) {
    retries.push_back(retry);
    EXPECT_EQ(item.Caption, "A");
  };
  queue.Restart();
  Run(5000);
  EXPECT_EQ(sent, (std::vector<std::string>{"A@50", "A@250", "A@450"}));
  EXPECT_EQ(retries, (std::vector<bool>{true, true, false}));
  auto state = queue.LockState();
  EXPECT_EQ(state.Pending(), nullptr);
  EXPECT_EQ(state.Items()[0]->Attempts, 0);
  EXPECT_FALSE(state.Items()[0]->Busy);
}

TEST_F(QueueTest, ASilentOnceRequestGivesUpUntilEveryItemStartsAgain) {
  answer_at_once = false;
  answer_timeout = 200;
  Add(Item("once", kMethodOnce, 1000, true, 3));
  queue.Restart();
  Run(5000);
  EXPECT_EQ(sent, (std::vector<std::string>{"once@50", "once@250", "once@450"}));
  queue.FireEvent("PORT-OPEN", true, nullptr);
  Run(5000);
  EXPECT_EQ(sent.size(), 6u);
}

TEST_F(QueueTest, ACronMomentWhoseTimerFiresLateIsStillSentOnce) {
  answer_at_once = false;
  answer_timeout = 10000;
  auto cron = Item("cron", kMethodCron);
  cron->Mode.MethodText = "*/2 * * * * *";  // the clock starts at 12:00:00.000
  SplitCronParams(cron->Mode.MethodText, &cron->Mode.CronParams);
  TBasicRequestItem& item = *cron;
  Add(std::move(cron));
  AddTimeEvents(queue, item);
  queue.Restart();
  Run(2000);
  // A busy thread: the timer of the 12:00:04 moment fires at 12:00:05.990,
  // just before the 12:00:06 moment, while a request is still awaited. Each
  // moment still gets its request.
  Run(3990, 3990);
  Run(100);
  for (int i = 0; i < 3; ++i) {
    queue.LockState().EndPending(1);
    Run(100);
  }
  Run(2000);
  EXPECT_EQ(sent, (std::vector<std::string>{"cron@2000", "cron@6140", "cron@6240", "cron@8000"}));
}

TEST_F(QueueTest, ARetryWaitsForTheMinimumIntervalAndGoesFirst) {
  answer_at_once = false;
  answer_timeout = 200;
  queue.MinInterval = 1000;
  Add(Item("A", kMethodPoll, 60000, true, 3));
  Add(Item("B", kMethodPoll, 60000));
  queue.Restart();
  Run(3500);
  // Without keeping the retry, B would take A's place after the interval.
  EXPECT_EQ(sent, (std::vector<std::string>{"A@50", "A@1050", "A@2050", "B@3050"}));
}

TEST_F(QueueTest, TheTimeOutHandlerMayEndThePendingRequestItself) {
  answer_at_once = false;
  answer_timeout = 100;
  Add(Item("A", kMethodPoll, 60000, true, 2));
  queue.OnTimeout = [&](TQueueController& q, TBasicRequestItem&, bool&) {
    q.LockState().ClearPending();
  };
  queue.Restart();
  Run(1000);
  EXPECT_EQ(sent, (std::vector<std::string>{"A@50", "A@150"}));
}

TEST_F(QueueTest, OnceItemsAreDoneOnce) {
  answer_timeout = 100;
  Add(Item("once", kMethodOnce));
  Add(Item("poll", kMethodPoll, 200));
  queue.Restart();
  Run(2000);
  const std::vector<std::string> captions = Captions();
  EXPECT_EQ(std::count(captions.begin(), captions.end(), "once"), 1);
  EXPECT_GT(std::count(captions.begin(), captions.end(), "poll"), 5);
}

TEST_F(QueueTest, AFailedSendIsTriedAgainUntilItsAttemptsAreUsed) {
  send_result = false;
  int calls = 0;
  queue.OnSendRequest = [&](TQueueController&, TBasicRequestItem&, uint32_t&, uint32_t&) {
    ++calls;
    return false;
  };
  Add(Item("once", kMethodOnce, 1000, true, 3));
  queue.Restart();
  Run(2000);
  EXPECT_EQ(calls, 3);
  auto state = queue.LockState();
  EXPECT_TRUE(state.Items()[0]->Busy);  // a Once item stays done
  EXPECT_EQ(state.Pending(), nullptr);
}

TEST_F(QueueTest, ASendHandlerThatRaisesHasNotSentAndTheTickGoesOn) {
  throw_on_send = true;
  Add(Item("A", kMethodPoll, 100, true, 2));
  queue.Restart();
  Run(200);
  throw_on_send = false;
  Run(100);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(Captions()[0], "A");
  EXPECT_TRUE(queue.Timer->Enabled());
}

TEST_F(QueueTest, TheTickFollowsTheShortestPollIntervalButNeverStops) {
  Add(Item("slow", kMethodPoll, 5000));
  queue.Restart();
  EXPECT_EQ(queue.TimerPeriod, 50u);
  Add(Item("fast", kMethodPoll, 10));
  queue.Restart();
  EXPECT_EQ(queue.TimerPeriod, 10u);
  EXPECT_EQ(queue.Timer->Interval(), 10u);
  Run(100);
  EXPECT_EQ(sent.size(), 10u);  // a send on every 10 ms tick
  Add(Item("zero", kMethodPoll, 0));
  queue.Restart();
  EXPECT_EQ(queue.TimerPeriod, 1u);
  EXPECT_TRUE(queue.Timer->Enabled());
}

TEST_F(QueueTest, EventsMakeTheirItemsDueByNameInAnyLetterCase) {
  Add(Item("poll", kMethodPoll, 60000));
  auto event = Item("door", kMethodEvent);
  event->Mode.MethodText = "Door-Open";
  Add(std::move(event));
  queue.Restart();
  Run(200);
  EXPECT_EQ(Captions(), std::vector<std::string>{"poll"});

  queue.FireEvent("no-such-event", false, nullptr);
  Run(200);
  EXPECT_EQ(sent.size(), 1u);

  TqonParamsList params;
  params.Add("PORTSTR", OleVariant("COM3"));
  queue.FireEvent("DOOR-OPEN", false, &params);
  Run(60);
  EXPECT_EQ(Captions().back(), "door");
  auto state = queue.LockState();
  const TBasicRequestItem* door = state.Items()[1];
  ASSERT_TRUE(door->EventParams);
  EXPECT_EQ(door->EventParams->GetValue("PORTSTR").ToString(), "COM3");
  EXPECT_FALSE(door->Due);
}

TEST_F(QueueTest, AnEventForAllGivesParametersWithoutMakingItemsDue) {
  auto event = Item("door", kMethodEvent);
  event->Mode.MethodText = "PORT-OPEN";
  Add(std::move(event));
  queue.Restart();
  TqonParamsList params;
  params.Add("PORTSTR", OleVariant("COM1"));
  queue.FireEvent("port-open", true, &params);
  Run(200);
  EXPECT_TRUE(sent.empty());
  auto state = queue.LockState();
  ASSERT_TRUE(state.Items()[0]->EventParams);
  EXPECT_EQ(state.Items()[0]->EventParams->Count(), 1);
}

TEST_F(QueueTest, RequestDoneGivesAttemptsBackOnlyForFinalCodes) {
  answer_at_once = false;
  answer_timeout = 1000;
  Add(Item("A", kMethodPoll, 60000, true, 3));
  queue.Restart();
  Run(60);
  for (int code : {2, 3, 7, 11}) {
    {
      auto state = queue.LockState();
      state.Items()[0]->Attempts = 2;
      state.Items()[0]->Busy = true;
    }
    queue.RequestDone(code);
    auto state = queue.LockState();
    EXPECT_EQ(state.Items()[0]->Attempts, 2) << code;
    EXPECT_FALSE(state.Items()[0]->Busy);
    EXPECT_FALSE(state.Awaited());
  }
  for (int code : {1, 8, 9, 10}) {
    queue.LockState().Items()[0]->Attempts = 2;
    queue.RequestDone(code);
    EXPECT_EQ(queue.LockState().Items()[0]->Attempts, 0) << code;
  }
}

TEST_F(QueueTest, ARequestEndsOnlyOnce) {
  answer_at_once = false;
  answer_timeout = 1000;
  Add(Item("A", kMethodPoll, 60000));
  Add(Item("B", kMethodPoll, 60000));
  queue.Restart();
  Run(60);
  auto state = queue.LockState();
  TBasicRequestItem* a = state.Pending();
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(state.EndPending(1, state.Items()[1]));  // not the pending one
  EXPECT_TRUE(state.EndPending(1, a));
  EXPECT_FALSE(state.EndPending(1, a));
  EXPECT_FALSE(state.EndPending(1));
}

TEST_F(QueueTest, AnAnswerWithinTheWriteEndsTheRequestAtOnce) {
  Add(Item("A", kMethodPoll, 60000));
  Add(Item("B", kMethodPoll, 60000));
  std::vector<bool> ended;
  queue.OnSendRequest = [&](TQueueController& q, TBasicRequestItem& item, uint32_t& timeout,
                            uint32_t&) {
    sent.push_back(item.Caption);
    timeout = 5000;
    // A host that delivers the meter's answer before the write returns.
    ended.push_back(q.LockState().EndPending(1, &item));
    return true;
  };
  queue.Restart();
  Run(100);
  EXPECT_EQ(sent, (std::vector<std::string>{"A", "B"}));  // no wait for a time-out
  EXPECT_EQ(ended, (std::vector<bool>{true, true}));
  auto state = queue.LockState();
  EXPECT_EQ(state.Pending(), nullptr);
  EXPECT_FALSE(state.Awaited());
}

TEST_F(QueueTest, ReloadingTheListForgetsThePendingRequest) {
  answer_at_once = false;
  answer_timeout = 5000;
  Add(Item("old", kMethodPoll, 60000));
  queue.Restart();
  Run(60);
  ASSERT_NE(queue.LockState().Pending(), nullptr);
  queue.ReloadRequests(
      [](TObjectList<TBasicRequestItem>& list) { list.Add(Item("new", kMethodPoll, 60000)); });
  {
    auto state = queue.LockState();
    EXPECT_EQ(state.Pending(), nullptr);
    EXPECT_FALSE(state.Awaited());
  }
  Run(60);  // no wait for the old request's time-out
  EXPECT_EQ(Captions(), (std::vector<std::string>{"old", "new"}));
  queue.ClearRequests();
  EXPECT_EQ(queue.LockState().Pending(), nullptr);
}

TEST_F(QueueTest, AResetRequestRestartsInsteadOfSending) {
  answer_timeout = 100;
  Add(Item("A", kMethodPoll, 60000));
  queue.Restart();
  Run(100);
  ASSERT_EQ(sent.size(), 1u);
  queue.RequestReset(2);
  Run(50);  // the restart's tick
  EXPECT_EQ(queue.ResetRequested.load(), 0);
  EXPECT_EQ(sent.size(), 1u);
  Run(50);  // the poll period started again
  EXPECT_EQ(sent.size(), 2u);
}

class HeldQueue : public TQueueControllerTimer {
 public:
  HeldQueue() : TQueueControllerTimer(nullptr) {}
  bool IsHeld() override { return held; }
  bool IsStopped() override { return stopped; }
  bool held = true;
  bool stopped = false;
};

TEST(QueueHold, AHeldQueueSendsNothingAndAStoppedOneSwitchesItsTimerOff) {
  platform::VirtualClock clock;
  HeldQueue queue;
  int sends = 0;
  queue.OnSendRequest = [&](TQueueController&, TBasicRequestItem&, uint32_t&, uint32_t&) {
    ++sends;
    return true;
  };
  queue.Requests->Add(Item("A", kMethodPoll, 10));
  queue.Restart();
  RunFor(clock, 500);
  EXPECT_EQ(sends, 0);
  queue.held = false;
  RunFor(clock, 100);
  EXPECT_GT(sends, 0);
  queue.stopped = true;
  RunFor(clock, 100);
  EXPECT_FALSE(queue.Timer->Enabled());
}

TEST(QueueDay, ADayOfPollingAHundredRequests) {
  platform::VirtualClock clock;
  TQueueControllerTimer queue(nullptr);
  std::vector<int> per_item(100);
  bool answer = false;
  queue.OnSendRequest = [&](TQueueController&, TBasicRequestItem& item, uint32_t& timeout,
                            uint32_t&) {
    ++per_item[static_cast<size_t>(item.PollInterval - 600000)];
    timeout = 1000;
    answer = true;
    return true;
  };
  // Ten-minute polls, told apart by their intervals.
  for (int i = 0; i < 100; ++i)
    queue.Requests->Add(Item("R" + std::to_string(i), kMethodPoll, 600000 + i));
  queue.Restart();
  // One-second steps: a slow message loop that misses ticks, as a busy
  // host's may; the queue must keep every poll period anyway.
  for (uint64_t t = 0; t < 86400000; t += 1000) {
    if (answer) {
      answer = false;
      queue.LockState().EndPending(1);
    }
    clock.Advance(1000);
    platform::PumpMessages(0);
  }
  for (int n : per_item) {
    EXPECT_GE(n, 143);
    EXPECT_LE(n, 145);
  }
}

}  // namespace

namespace {

// A queue (and a second one, whose scheduled events make the first one's
// items due, as a data source does for its clients) driven through virtual
// time in 10 ms steps, so that every tick boundary is pumped. Logs
// "caption@ms" for each request and "timeout:caption@ms" for each time-out.
struct Rig {
  struct Answer {
    uint64_t at;
    const TBasicRequestItem* item;
  };

  platform::VirtualClock clock;
  HeldQueue queue;
  TQueueControllerTimer master{nullptr};
  std::vector<std::string> log;
  std::vector<Answer> answers;
  int pumped = 0;
  uint64_t now = 0;
  uint32_t answer_timeout = 200;
  // ms until the answer to the nth send of a caption; -1: none; 0: within the write.
  std::function<int(const std::string& caption, int nth)> answer_after = [](const std::string&,
                                                                            int) { return 20; };
  std::function<bool()> send_ok = [] { return true; };
  std::map<std::string, int> sends;

  Rig() {
    queue.held = false;
    queue.OnSendRequest = [this](TQueueController& q, TBasicRequestItem& item, uint32_t& timeout,
                                 uint32_t&) {
      if (!send_ok()) return false;
      log.push_back(item.Caption + "@" + std::to_string(now));
      timeout = answer_timeout;
      const int after = answer_after(item.Caption, sends[item.Caption]++);
      if (after == 0) q.LockState().EndPending(1, &item);
      if (after > 0) answers.push_back({now + static_cast<uint64_t>(after), &item});
      return true;
    };
    queue.OnTimeout = [this](TQueueController&, TBasicRequestItem& item, bool&) {
      log.push_back("timeout:" + item.Caption + "@" + std::to_string(now));
    };
    // What a data source does for its clients when a schedule fires.
    master.OnScheduledEvent = [this](TQueueController&, TScheduledEvent&, TBasicRequestItem& item) {
      MakeDue(item.Caption);
    };
  }
  void MakeDue(const std::string& caption) {
    auto state = queue.LockState();
    for (TBasicRequestItem* mine : state.Items())
      if (mine->Caption == caption) mine->Due = true;
  }
  void Add(std::unique_ptr<TBasicRequestItem> item) { queue.Requests->Add(std::move(item)); }
  // Runs until ms after the start; answers arrive before the pump of their step.
  void RunTo(uint64_t ms) {
    while (now < ms) {
      now += 10;
      clock.Advance(10);
      for (auto it = answers.begin(); it != answers.end();) {
        if (it->at > now) {
          ++it;
          continue;
        }
        queue.LockState().EndPending(1, it->item);
        it = answers.erase(it);
      }
      pumped += platform::PumpMessages(0);
    }
  }
};

std::unique_ptr<TBasicRequestItem> Cron(const std::string& caption, const std::string& text) {
  auto item = Item(caption, kMethodCron);
  item->Mode.MethodText = text;
  SplitCronParams(text, &item->Mode.CronParams);
  return item;
}

struct Scenario {
  const char* name;
  std::function<void(Rig&)> run;
};

const Scenario kScenarios[] = {
    {"rotation",
     [](Rig& r) {
       r.answer_timeout = 300;
       r.Add(Item("A", kMethodPoll, 1000));
       r.Add(Item("B", kMethodPoll, 1000));
       r.Add(Item("C", kMethodPoll, 330));
       r.queue.Restart();
       r.RunTo(5000);
     }},
    {"fast ticks",
     [](Rig& r) {
       r.answer_after = [](const std::string&, int) { return 0; };
       r.Add(Item("A", kMethodPoll, 20));
       r.Add(Item("B", kMethodPoll, 70));
       r.queue.Restart();
       r.RunTo(1000);
     }},
    {"retries and late answers",
     [](Rig& r) {
       // A is silent, B answers after its time-out (the answer ends its retry).
       r.answer_after = [](const std::string& c, int) { return c == "A" ? -1 : 260; };
       r.Add(Item("A", kMethodPoll, 3000, true, 3));
       r.Add(Item("B", kMethodPoll, 1100, true, 2));
       r.queue.Restart();
       r.RunTo(8000);
     }},
    {"minimum interval",
     [](Rig& r) {
       r.queue.MinInterval = 730;
       r.answer_after = [](const std::string& c, int n) {
         return c == "A" && n % 3 != 2 ? -1 : 40;
       };
       r.Add(Item("A", kMethodPoll, 2000, true, 3));
       r.Add(Item("B", kMethodPoll, 900));
       r.queue.Restart();
       r.RunTo(9000);
     }},
    {"once items and failed sends",
     [](Rig& r) {
       r.send_ok = [&r] { return r.now >= 420; };
       r.answer_after = [](const std::string& c, int) { return c == "once" ? -1 : 30; };
       r.Add(Item("once", kMethodOnce, 1000, true, 2));
       r.Add(Item("poll", kMethodPoll, 1500));
       r.queue.Restart();
       r.RunTo(3000);
       r.queue.FireEvent("PORT-OPEN", true, nullptr);  // the Once item again
       r.RunTo(6000);
     }},
    {"events",
     [](Rig& r) {
       auto door = Item("door", kMethodEvent);
       door->Mode.MethodText = "Door-Open";
       r.Add(Item("poll", kMethodPoll, 60000));
       r.Add(std::move(door));
       r.queue.Restart();
       r.RunTo(777);
       r.queue.FireEvent("door-open", false, nullptr);
       r.RunTo(2333);
       r.queue.FireEvent("DOOR-OPEN", false, nullptr);
       r.queue.FireEvent("other", false, nullptr);
       r.RunTo(4000);
     }},
    {"holds",
     [](Rig& r) {
       r.Add(Item("A", kMethodPoll, 400));
       r.Add(Item("B", kMethodPoll, 1300));
       r.queue.held = true;
       r.queue.Restart();
       r.RunTo(510);
       r.queue.held = false;
       r.RunTo(1230);
       r.queue.held = true;
       r.RunTo(1970);
       r.queue.held = false;
       r.RunTo(4000);
     }},
    {"reloads and resets",
     [](Rig& r) {
       r.answer_after = [](const std::string& c, int) { return c == "old" ? -1 : 50; };
       r.answer_timeout = 5000;
       r.Add(Item("old", kMethodPoll, 60000));
       r.queue.Restart();
       r.RunTo(1234);
       r.queue.ReloadRequests([](TObjectList<TBasicRequestItem>& list) {
         list.Add(Item("new", kMethodPoll, 2500));
         list.Add(Item("once", kMethodOnce));
       });
       r.RunTo(3010);
       r.queue.RequestReset(2);
       r.RunTo(6000);
     }},
    {"scheduled events",
     [](Rig& r) {
       // The clock starts at 12:00:00.000: moments fall on tick boundaries.
       auto own = Cron("own", "*/3 * * * * *");
       TBasicRequestItem& own_item = *own;
       r.Add(std::move(own));
       r.Add(Cron("given", "*/2 * * * * *"));
       r.Add(Item("poll", kMethodPoll, 5000));
       auto given = Cron("given", "*/2 * * * * *");
       TBasicRequestItem& given_item = *given;
       r.master.Requests->Add(std::move(given));
       AddTimeEvents(r.master, given_item);
       // The other queue's own tick makes an item due, on a boundary of both.
       r.master.Requests->Add(Item("tap", kMethodPoll, 700));
       r.master.OnSendRequest = [&r](TQueueController&, TBasicRequestItem&, uint32_t&, uint32_t&) {
         r.MakeDue("tapped");
         return true;
       };
       r.Add(Item("tapped", kMethodEvent));
       r.master.Restart();
       r.queue.Restart();
       r.RunTo(4000);
       AddTimeEvents(r.queue, own_item);
       r.RunTo(9000);
       r.queue.ClearScheduledEvents();
       r.RunTo(13000);
       r.master.ClearScheduledEvents();
     }},
};

TEST(QueueCoalescing, SleepingTicksSendTheSameRequestsAtTheSameTimes) {
  for (const Scenario& scenario : kScenarios) {
    std::vector<std::string> logs[2];
    int pumped[2] = {0, 0};
    for (int on = 0; on < 2; ++on) {
      TQueueControllerTimer::CoalesceTicks = on == 1;
      Rig rig;
      scenario.run(rig);
      logs[on] = rig.log;
      pumped[on] = rig.pumped;
    }
    TQueueControllerTimer::CoalesceTicks = true;
    EXPECT_FALSE(logs[0].empty()) << scenario.name;
    EXPECT_EQ(logs[1], logs[0]) << scenario.name;
    EXPECT_LE(pumped[1], pumped[0]) << scenario.name;
  }
}

TEST(QueueCoalescing, AnIdleQueueTicksOnlyWhenItHasSomethingToDo) {
  int pumped[2] = {0, 0};
  for (int on = 0; on < 2; ++on) {
    TQueueControllerTimer::CoalesceTicks = on == 1;
    Rig rig;
    rig.Add(Item("A", kMethodPoll, 60000));
    rig.queue.Restart();
    rig.RunTo(600000);
    EXPECT_EQ(rig.log.size(), 10u);
    pumped[on] = rig.pumped;
  }
  TQueueControllerTimer::CoalesceTicks = true;
  EXPECT_EQ(pumped[0], 12000);
  // Per poll: the send, the answer and the tick after it.
  EXPECT_LE(pumped[1], 10 * 4);
}

}  // namespace
