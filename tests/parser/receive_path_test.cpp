#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "parser/client_list.h"
#include "parser/data_source.h"
#include "parser/parser_client.h"
#include "sched_test_support.h"

namespace {

using sched_test::DataBlock;
using sched_test::EventBlock;
using sched_test::FakeModule;
using sched_test::Item;
using sched_test::RunFor;
using sched_test::TestClient;
using sched_test::TestSource;

std::vector<std::string> Frames(FakeModule& module) {
  std::vector<std::string> out;
  for (const auto& r : module.Results())
    out.push_back(r.text);
  return out;
}

class ReceivePath : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  FakeModule module;
  TestSource source{&module};
};

TEST_F(ReceivePath, OneClientPerClientIdentifier) {
  source.Feed(5, "10.0.0.7:5000", "<a>");
  TestClient* first = source.Client(5);
  ASSERT_NE(first, nullptr);
  source.Feed(5, "10.0.0.7:5000", "<b>");
  source.Feed(6, "COM1", "<c>");
  EXPECT_EQ(source.Clients->Count(), 2);
  EXPECT_EQ(source.Client(5), first);
  EXPECT_EQ(first->ClientHost, "10.0.0.7");
  EXPECT_EQ(source.Client(6)->ClientHost, "");
  EXPECT_FALSE(first->ConnectionBound);
  EXPECT_EQ(Frames(module), (std::vector<std::string>{"<a>", "<b>", "<c>"}));
}

TEST_F(ReceivePath, AClientNameOfFiftyCharactersNeedsNoTerminator) {
  TPluginCallRec block = DataBlock(1, "", "");
  std::memset(block.ClientName, 'n', sizeof(block.ClientName));
  source.ProcessBlock(block);
  EXPECT_EQ(source.Client(1)->ClientName, std::string(50, 'n'));
}

TEST_F(ReceivePath, TwoFramesInOneBlockGiveTwoRecords) {
  source.Feed(1, "c", "xx<first><second><th");
  EXPECT_EQ(Frames(module), (std::vector<std::string>{"<first>", "<second>"}));
  EXPECT_EQ(source.Client(1)->Buffer->Count(), 3u);  // "<th" waits for more
}

TEST_F(ReceivePath, AnEndCodeStopsTheBlockAndKeepsTheRest) {
  source.Feed(1, "c", "<STOP><next>");
  EXPECT_EQ(Frames(module), std::vector<std::string>{"<STOP>"});
  EXPECT_EQ(source.Client(1)->Buffer->Count(), 6u);
  source.Feed(1, "c", "");
  EXPECT_EQ(Frames(module).back(), "<next>");
}

TEST_F(ReceivePath, AFrameThatCannotBeDecodedIsStillRemoved) {
  EXPECT_EQ(source.Feed(1, "c", "<X><ok>"), 0);
  EXPECT_TRUE(module.Results().empty());
  TestClient* client = source.Client(1);
  EXPECT_EQ(client->Buffer->Count(), 4u);
  EXPECT_TRUE(client->FrameStart);
  source.Feed(1, "c", "");
  EXPECT_EQ(Frames(module), std::vector<std::string>{"<ok>"});
}

TEST_F(ReceivePath, BytesLeftFifteenSecondsAgoAreDropped) {
  source.Feed(1, "c", "<par");
  clock.Advance(14999);
  source.Feed(1, "c", "t>");
  EXPECT_EQ(Frames(module), std::vector<std::string>{"<part>"});

  source.Feed(1, "c", "<sta");
  clock.Advance(15000);
  source.Feed(1, "c", "le>");
  EXPECT_EQ(Frames(module).size(), 1u);
  EXPECT_EQ(source.Client(1)->Buffer->Count(), 0u);  // "le>" was garbage
}

TEST_F(ReceivePath, BlocksOfAnySizeAndContentForAnyClient) {
  std::mt19937 random(7);
  for (int i = 0; i < 300; ++i) {
    std::string bytes(random() % (i % 50 == 0 ? 70000 : 300), '\0');
    for (char& c : bytes)
      c = static_cast<char>(random() % 4 == 0 ? '<' : random() % 256);
    const uintptr_t id = random() % 20;
    TPluginCallRec block = DataBlock(id, "peer" + std::to_string(id), bytes);
    if (i % 37 == 0) block.Input.Kind = kKindListIntf;  // not bytes: ignored
    if (i % 41 == 0) block.Input.Data = 0;
    EXPECT_EQ(source.ProcessBlock(block), 0);
    EXPECT_LE(source.Client(id)->Buffer->Count(), 16384u);
  }
  EXPECT_LE(source.Clients->Count(), 20);
}

// A protocol that keeps asking for another search without taking anything.
class StuckClient : public TCustomParserScheduledClient {
 public:
  using TCustomParserScheduledClient::TCustomParserScheduledClient;
  int FindFrame(bool& again) override {
    ++searches;
    again = true;
    return searches % 2 == 0 ? 0 : -1;
  }
  int searches = 0;
};

TEST_F(ReceivePath, AProtocolThatMakesNoProgressDoesNotStallTheBlock) {
  source.ClientClass = ParserClientClass<StuckClient>();
  EXPECT_EQ(source.Feed(1, "c", "abc"), 0);
  auto r = source.Clients->ReadLocked();
  auto* client = static_cast<StuckClient*>(r->Find(1));
  EXPECT_GT(client->searches, 1);
  EXPECT_LT(client->searches, 10);
}

TEST_F(ReceivePath, TheSweepTimerRunsExactlyWhileThereAreClients) {
  EXPECT_FALSE(source.SweepTimer->Enabled());
  source.Event(3, "10.0.0.3:1", kEventPortOpened);
  EXPECT_TRUE(source.SweepTimer->Enabled());
  // The passes find nothing to do before the client can expire: the timer
  // sleeps, waking at most every ten seconds.
  int passes = 0;
  for (int t = 0; t < 61000; t += 100) {
    clock.Advance(100);
    passes += platform::PumpMessages(0);
  }
  EXPECT_LE(passes, 10);
  EXPECT_EQ(source.Clients->Count(), 0);
  EXPECT_FALSE(source.SweepTimer->Enabled());
}

TEST_F(ReceivePath, IdleConnectionBoundClientsAreSweptOthersStay) {
  source.Event(3, "10.0.0.3:1", kEventPortOpened);
  source.Feed(4, "COM4", "<a>");
  TestClient* connection = source.Client(3);
  ASSERT_NE(connection, nullptr);
  EXPECT_TRUE(connection->ConnectionBound);
  EXPECT_TRUE(connection->GetActive());
  RunFor(clock, 50000, 100);
  source.Feed(3, "10.0.0.3:1", "<alive>");  // activity restarts the idle time-out
  RunFor(clock, 50000, 100);
  EXPECT_NE(source.Client(3), nullptr);
  RunFor(clock, 11000, 100);
  EXPECT_EQ(source.Client(3), nullptr);
  EXPECT_NE(source.Client(4), nullptr);  // not bound to a connection
}

TEST_F(ReceivePath, AClosedPortExpiresAtATenthOfItsIdleTimeOut) {
  source.Event(3, "10.0.0.3:1", kEventPortOpened);
  source.Event(3, "10.0.0.3:1", kEventPortClosed);
  EXPECT_FALSE(source.Client(3)->GetActive());
  RunFor(clock, 5700, 100);
  EXPECT_NE(source.Client(3), nullptr);
  RunFor(clock, 600, 100);
  EXPECT_EQ(source.Client(3), nullptr);
}

TEST_F(ReceivePath, AClientThatNeverExpiresStays) {
  source.Event(3, "10.0.0.3:1", kEventPortOpened);
  source.Client(3)->IdleTimeout = kNeverExpire;
  source.Event(3, "10.0.0.3:1", kEventPortClosed);
  RunFor(clock, 100000, 1000);
  EXPECT_NE(source.Client(3), nullptr);
}

class TemplateClients : public ReceivePath {
 protected:
  TemplateClients() {
    module.configured.push_back(TConfigDataSource{"", 1, "ds", ""});
    source.Queue->Requests->Add(Item("poll", kMethodPoll, 1000));
    CreateTemplateClients(&module, source.ClientClass, true, 0);
  }
  TestClient* Template() { return source.Client(0); }
};

TEST_F(TemplateClients, OneTemplatePerDataSourceActiveAndNeverExpiring) {
  TestClient* t = Template();
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(t->IsTemplate);
  EXPECT_EQ(t->ClientName, "__UT__12AB34CD");
  EXPECT_TRUE(t->GetActive());
  EXPECT_EQ(t->IdleTimeout.load(), kNeverExpire);
  EXPECT_TRUE(source.Clients->HasTemplateClients);
  // Its queue polls before the host has delivered anything.
  RunFor(clock, 100);
  EXPECT_EQ(t->sent, std::vector<std::string>{"poll"});
  // Only where the list is empty.
  CreateTemplateClients(&module, source.ClientClass, true, 5);
  EXPECT_EQ(source.Clients->Count(), 1);
}

TEST_F(TemplateClients, TheFirstRealBlockTakesTheTemplateOver) {
  TestClient* t = Template();
  RunFor(clock, 100);
  source.Feed(9, "__UT__other", "<a>");
  EXPECT_EQ(source.Clients->Count(), 1);
  EXPECT_TRUE(t->IsTemplate);
  source.Feed(7, "10.0.0.7:5000", "<b>");
  EXPECT_EQ(source.Clients->Count(), 1);
  EXPECT_EQ(source.Client(7), t);  // the same client, with its queue
  EXPECT_EQ(t->ClientId, 7u);
  EXPECT_EQ(t->ClientHost, "10.0.0.7");
  EXPECT_FALSE(t->IsTemplate);
  EXPECT_EQ(source.Clients->TemplateCount(), 0);
  EXPECT_FALSE(t->ConnectionBound);
  EXPECT_EQ(t->sent.size(), 1u);
  // A later client under the template's old identifier is a new one and
  // replaces nothing.
  source.Feed(0, "COM0", "<c>");
  EXPECT_EQ(source.Clients->Count(), 2);
  EXPECT_EQ(source.Client(7), t);
}

TEST_F(TemplateClients, TheFirstPortEventRemovesThem) {
  source.Event(7, "10.0.0.7:5000", kEventPortOpened);
  EXPECT_FALSE(source.Clients->HasTemplateClients);
  EXPECT_EQ(source.Clients->Count(), 1);
  TestClient* client = source.Client(7);
  ASSERT_NE(client, nullptr);
  EXPECT_FALSE(client->IsTemplate);
  EXPECT_TRUE(client->ConnectionBound);
  EXPECT_TRUE(client->GetActive());
}

TEST_F(TemplateClients, NoneWithoutTheRequestRole) {
  TestSource other(&module, 2);
  module.configured.push_back(TConfigDataSource{"", 2, "ds2", ""});
  module.role0 = false;
  CreateTemplateClients(&module, other.ClientClass, true, 0);
  EXPECT_EQ(other.Clients->Count(), 0);
}

}  // namespace
