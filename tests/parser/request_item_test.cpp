#include <gtest/gtest.h>

#include <climits>

#include "config/xml/dov_xml_tree.h"
#include "paramlist/params_list.h"
#include "parser/basic_request_item.h"

namespace {

// Loads an item from "<Request ...>" + body + "</Request>".
class RequestItemLoad : public ::testing::Test {
 protected:
  TBasicRequestItem& Load(std::string_view body, int index = 1, std::string_view attributes = "") {
    tree_.SetXML("<DL_T645_2007_QUERY><Request" + std::string(attributes) + ">" +
                 std::string(body) + "</Request></DL_T645_2007_QUERY>");
    item_ = std::make_unique<TBasicRequestItem>();
    item_->LoadFromNode(tree_.FindDescendant("Request"), index);
    return *item_;
  }
  TdovXMLTree tree_;
  std::unique_ptr<TBasicRequestItem> item_;
};

TEST(BasicRequestItem, EventParamsAreMadeOnFirstUse) {
  TBasicRequestItem item;
  EXPECT_EQ(item.EventParams, nullptr);
  TqonParamsList& params = item.GetEventParams();
  EXPECT_EQ(item.EventParams.get(), &params);
  EXPECT_EQ(&item.GetEventParams(), &params);
}

TEST_F(RequestItemLoad, EmptyRequestReadsDefaults) {
  const auto& item = Load("", 3);
  EXPECT_FALSE(item.Enabled);
  EXPECT_EQ(item.Caption, "Request #3");
  EXPECT_EQ(item.Method, kMethodOnce);
  EXPECT_EQ(item.PollInterval, 1000);
  EXPECT_EQ(item.Mode.Method, kMethodOnce);
  EXPECT_TRUE(item.Mode.MethodText.empty());
}

TEST_F(RequestItemLoad, EnabledAndCaption) {
  EXPECT_TRUE(Load("<Enabled>1</Enabled>", 1, " caption=\"Main\"").Enabled);
  EXPECT_EQ(item_->Caption, "Main");
  EXPECT_TRUE(Load("<Enabled check=\"2\"/>").Enabled);
  EXPECT_FALSE(Load("<Enabled>true</Enabled>").Enabled);
  // The setting may sit deeper below the request.
  EXPECT_TRUE(Load("<General><Enabled>1</Enabled></General>").Enabled);
}

TEST_F(RequestItemLoad, EveryMethod) {
  const auto& at = Load("<MethodAtTime>1</MethodAtTime><AtTime>08:00:00;20:00:00</AtTime>");
  EXPECT_EQ(at.Method, kMethodAtTime);
  EXPECT_EQ(at.Mode.Method, kMethodAtTime);
  EXPECT_EQ(at.Mode.MethodText, "08:00:00;20:00:00");
  EXPECT_EQ(Load("<MethodAtTime>1</MethodAtTime>").Mode.MethodText, "12:00:00");

  const auto& cron = Load("<MethodCron check=\"2\"/><CronTime>0 */5 * * * 1-5</CronTime>");
  EXPECT_EQ(cron.Method, kMethodCron);
  EXPECT_EQ(cron.Mode.MethodText, "0 */5 * * * 1-5");
  EXPECT_EQ(cron.Mode.CronParams, (TExportCronParams{"1-5", "*", "*", "*", "*/5", "0"}));

  const auto& event = Load("<MethodEvent>1</MethodEvent><EventId>PORT-OPEN</EventId>");
  EXPECT_EQ(event.Method, kMethodEvent);
  EXPECT_EQ(event.Mode.MethodText, "PORT-OPEN");
  EXPECT_EQ(Load("<MethodEvent>1</MethodEvent>").Mode.MethodText, "");

  const auto& poll = Load("<MethodPoll>1</MethodPoll><AtTime>09:00</AtTime>");
  EXPECT_EQ(poll.Method, kMethodPoll);
  EXPECT_EQ(poll.Mode.Method, kMethodPoll);
  EXPECT_EQ(poll.Mode.MethodText, "");  // only the method's own text is kept

  EXPECT_EQ(Load("<MethodOnce>1</MethodOnce>").Method, kMethodOnce);
  EXPECT_EQ(Load("<MethodPoll>0</MethodPoll>").Method, kMethodOnce);
}

TEST_F(RequestItemLoad, MethodPrecedence) {
  EXPECT_EQ(Load("<MethodPoll>1</MethodPoll><MethodAtTime>1</MethodAtTime>").Method, kMethodAtTime);
  EXPECT_EQ(Load("<MethodPoll>1</MethodPoll><MethodCron>1</MethodCron>").Method, kMethodCron);
  EXPECT_EQ(Load("<MethodCron>1</MethodCron><MethodAtTime>1</MethodAtTime>").Method, kMethodAtTime);
  EXPECT_EQ(Load("<MethodPoll>1</MethodPoll><MethodOnce>1</MethodOnce>").Method, kMethodOnce);
  EXPECT_EQ(Load("<MethodPoll>1</MethodPoll><MethodEvent>1</MethodEvent>").Method, kMethodEvent);
  EXPECT_EQ(Load("<MethodEvent>1</MethodEvent><MethodOnce>1</MethodOnce>").Method, kMethodOnce);
}

TEST_F(RequestItemLoad, PollUnitsInAnyLetterCase) {
  struct Case {
    const char* body;
    int32_t ms;
  } cases[] = {
      {"<PollInterval>5</PollInterval><PollUnits>S</PollUnits>", 5000},
      {"<PollInterval>5</PollInterval><PollUnits>M</PollUnits>", 300000},
      {"<PollInterval>5</PollInterval><PollUnits>H</PollUnits>", 18000000},
      {"<PollInterval>5</PollInterval><PollUnits>MS</PollUnits>", 5},
      {"<PollInterval>5</PollInterval><PollUnits>m</PollUnits>", 300000},
      {"<PollInterval>2</PollInterval><PollUnits>s</PollUnits>", 2000},
      {"<PollInterval>5</PollInterval><PollUnits>Ms</PollUnits>", 5},
      {"<PollInterval>5</PollInterval><PollUnits>sec</PollUnits>", 5},
      {"<PollInterval>5</PollInterval><PollUnits/>", 5},
      {"<PollInterval>5</PollInterval>", 5},
      {"<PollInterval>$10</PollInterval><PollUnits>S</PollUnits>", 16000},
      {"<PollInterval>5 min</PollInterval><PollUnits>S</PollUnits>", 1000000},
      {"<PollInterval></PollInterval>", 1000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Load(c.body).PollInterval, c.ms) << c.body;
}

TEST_F(RequestItemLoad, LongPollIntervalsClampInsteadOfWrapping) {
  // 596 h still fits in 32 bits; 597 h and the dialog's largest value do not.
  EXPECT_EQ(Load("<PollInterval>596</PollInterval><PollUnits>H</PollUnits>").PollInterval,
            2145600000);
  EXPECT_EQ(Load("<PollInterval>597</PollInterval><PollUnits>H</PollUnits>").PollInterval,
            INT32_MAX);
  EXPECT_EQ(Load("<PollInterval>655350</PollInterval><PollUnits>M</PollUnits>").PollInterval,
            INT32_MAX);
  EXPECT_EQ(Load("<PollInterval>2147483647</PollInterval><PollUnits>S</PollUnits>").PollInterval,
            INT32_MAX);
  EXPECT_EQ(Load("<PollInterval>-655350</PollInterval><PollUnits>H</PollUnits>").PollInterval,
            INT32_MIN);
}

TEST_F(RequestItemLoad, CronDefaultAndShortStrings) {
  const auto& dflt = Load("<MethodCron>1</MethodCron>");
  EXPECT_EQ(dflt.Mode.MethodText, "0 0 12 * * *");
  EXPECT_EQ(dflt.Mode.CronParams, (TExportCronParams{"*", "*", "*", "12", "0", "0"}));
  const auto& short_cron = Load("<MethodCron>1</MethodCron><CronTime>0 12 * * *</CronTime>");
  EXPECT_EQ(short_cron.Mode.MethodText, "0 12 * * *");
  EXPECT_EQ(short_cron.Mode.CronParams, TExportCronParams{});
  // Cron fields are only split for cron requests.
  EXPECT_EQ(Load("<MethodPoll>1</MethodPoll><CronTime>1 2 3 4 5 6</CronTime>").Mode.CronParams,
            TExportCronParams{});
}

TEST(CronSplit, RunsOfBlanksSeparateLikeOne) {
  TExportCronParams params;
  const TExportCronParams noon{"*", "*", "*", "12", "0", "0"};
  ASSERT_TRUE(SplitCronParams("0 0 12 * * *", &params));
  EXPECT_EQ(params, noon);
  ASSERT_TRUE(SplitCronParams("0 0  12 * * *", &params));
  EXPECT_EQ(params, noon);
  ASSERT_TRUE(SplitCronParams("  0   0 12 *  * *   ", &params));
  EXPECT_EQ(params, noon);
  // Fields after the sixth are ignored.
  ASSERT_TRUE(SplitCronParams("1 2 3 4 5 6 7 8", &params));
  EXPECT_EQ(params, (TExportCronParams{"6", "5", "4", "3", "2", "1"}));
  params[0] = "stale";
  EXPECT_FALSE(SplitCronParams("0  0 12 * *", &params));
  EXPECT_EQ(params, TExportCronParams{});
  EXPECT_FALSE(SplitCronParams("", &params));
  EXPECT_FALSE(SplitCronParams("      ", &params));
}

TEST(BasicRequestItem, AssignCopiesExactlyTheConfiguredFields) {
  TBasicRequestItem source;
  source.Enabled = true;
  source.Busy = true;
  source.Caption = "Main";
  source.Method = kMethodCron;
  source.PollInterval = 60000;
  source.RequestId = 7;
  source.Due = true;
  source.ScheduleKey = "key-1";
  source.SubItems.Add(std::make_unique<TRequestSubItem>());
  source.Attempts = 2;
  source.MaxAttempts = 5;
  source.Mode.Method = kMethodCron;
  source.Mode.MethodText = "0 0 12 * * *";
  SplitCronParams(source.Mode.MethodText, &source.Mode.CronParams);
  source.PollTimer.Start = 123;
  source.LastSent = 99;
  source.GetEventParams();

  TBasicRequestItem copy;
  copy.Busy = true;
  copy.PollTimer.Start = 456;
  copy.Attempts = 1;
  copy.RequestId = 8;
  copy.LastSent = 11;
  copy.Assign(source);

  EXPECT_TRUE(copy.Enabled);
  EXPECT_EQ(copy.Caption, "Main");
  EXPECT_EQ(copy.Method, kMethodCron);
  EXPECT_EQ(copy.PollInterval, 60000);
  EXPECT_TRUE(copy.Due);
  EXPECT_EQ(copy.ScheduleKey, "key-1");
  EXPECT_EQ(copy.Mode.Method, kMethodCron);
  EXPECT_EQ(copy.Mode.MethodText, "0 0 12 * * *");
  EXPECT_EQ(copy.Mode.CronParams[3], "12");
  // Run-time state is the copy's own.
  EXPECT_FALSE(copy.Busy);
  EXPECT_TRUE(copy.PollTimer.IsClear());
  EXPECT_EQ(copy.Attempts, 1);
  EXPECT_EQ(copy.MaxAttempts, 1);
  EXPECT_EQ(copy.RequestId, 8u);
  EXPECT_EQ(copy.LastSent, 11u);
  EXPECT_TRUE(copy.SubItems.Empty());
  EXPECT_EQ(copy.EventParams, nullptr);
  // The source is untouched.
  EXPECT_TRUE(source.Busy);
  EXPECT_EQ(source.SubItems.Count(), 1);

  copy.Assign(copy);  // self-assignment changes nothing
  EXPECT_EQ(copy.Caption, "Main");
}

TEST(BasicRequestList, OwnsItsRequests) {
  static int alive = 0;
  struct Counted : TBasicRequestItem {
    Counted() { ++alive; }
    ~Counted() override { --alive; }
  };
  {
    TBasicRequestList list;
    list.Add(std::make_unique<Counted>());
    list.Add(std::make_unique<Counted>());
    EXPECT_EQ(list.Count(), 2);
    list.Clear();
    EXPECT_EQ(alive, 0);
    list.Add(std::make_unique<Counted>());
    EXPECT_EQ(alive, 1);
  }
  EXPECT_EQ(alive, 0);
}

}  // namespace
