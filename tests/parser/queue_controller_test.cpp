#include "parser/queue_controller.h"

#include <gtest/gtest.h>

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
  queue.ResetRequested = 2;
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
