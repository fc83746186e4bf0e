#include <gtest/gtest.h>

#include <typeinfo>

#include "client_test_support.h"
#include "parser/cron/queue_schedule.h"
#include "parser/data_source.h"
#include "parser/queue_controller.h"

namespace {

using namespace client_test;

class SerialPortDM : public ClientFixture {
 protected:
  size_t ScheduleErrors() const {
    size_t n = 0;
    for (const std::string& line : module.LogLines) {
      const std::string head = "1 Unable to parse expression \"bad bad bad bad bad bad *, ";
      const std::string tail = "\". Error at: 1";
      n += line.compare(0, head.size(), head) == 0 && line.size() > head.size() + tail.size() &&
                   line.compare(line.size() - tail.size(), tail.size(), tail) == 0
               ? 1
               : 0;
    }
    return n;
  }
};

TEST_F(SerialPortDM, ClientsSpeakTheProtocolAndEveryQueueReportsScheduleErrors) {
  EXPECT_EQ(source->Queue->RequestIdValue, 0u);
  Feed({});
  {
    auto clients = source->Clients->ReadLocked();
    ASSERT_EQ(clients->Count(), 1);
    EXPECT_EQ(typeid(*clients->Find(kClientId)), typeid(TDlt645ParserClient));
  }
  auto item = MakeRequest({.Method = kMethodCron});
  item->Mode.CronParams.fill("bad");
  AddTimeEvents(*source->Queue, *item);
  EXPECT_EQ(ScheduleErrors(), 1u);
  AddTimeEvents(*Client()->Queue, *item);
  EXPECT_EQ(ScheduleErrors(), 2u);
}

TEST_F(SerialPortDM, DestroyedWhileItsQueuesTick) {
  Load({{.PollInterval = 100, .Timeout = 50}});
  PortEvent(kEventPortOpened);
  RunFor(1000);
  ASSERT_GT(module.Writes.size(), 2u);
  source.reset();
  const size_t writes = module.Writes.size();
  RunFor(1000);
  EXPECT_EQ(module.Writes.size(), writes);
}

}  // namespace
