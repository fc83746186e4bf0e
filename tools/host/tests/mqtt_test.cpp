// Publishing to a real broker: the test starts mosquitto on a loopback port
// of its own, the simulated meters and the host with the real plug-in, and
// subscribes. Every record printed must reach the subscriber once and in
// order: live, across an outage of the broker while polling goes on, and
// across a restart of the host during an outage.
#include <gtest/gtest.h>

#include "host_mqtt.h"

#ifdef DLT645_HOST_MQTT
#include <mosquitto.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "host_app.h"
#include "host_config.h"
#include "host_test_support.h"
#include "sim_net.h"

namespace {

using namespace host;
using namespace host_test;
using Clock = std::chrono::steady_clock;

constexpr const char* kMeters[] = {"000000000001", "000000000002"};

// Until `done` holds or `seconds` pass.
bool WaitFor(const std::function<bool()>& done, double seconds = 15) {
  const auto until = Clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (Clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

std::string BrokerProgram() {
  for (const char* p : {"/usr/sbin/mosquitto", "/usr/local/sbin/mosquitto", "/usr/bin/mosquitto"})
    if (access(p, X_OK) == 0) return p;
  return {};
}

// mosquitto with a configuration of the test's, persisting its sessions so
// that a subscriber misses nothing while the broker is away.
class Broker {
 public:
  Broker(std::filesystem::path dir, uint16_t port) : dir_(std::move(dir)), port_(port) {}
  ~Broker() { Stop(SIGKILL); }
  void Configure(const std::string& extra) { extra_ = extra; }
  bool Start() {
    std::ofstream(dir_ / "broker.conf")
        << "listener " << port_ << " 127.0.0.1\n"
        << "persistence true\npersistence_location " << dir_.string() << "/\n"
        << (extra_.empty() ? "allow_anonymous true\n" : extra_);
    const std::string program = BrokerProgram();
    const std::string conf = (dir_ / "broker.conf").string();
    const std::string log = (dir_ / "broker.log").string();
    pid_ = fork();
    if (pid_ == 0) {
      std::FILE* out = std::freopen(log.c_str(), "a", stdout);
      std::FILE* err = std::freopen(log.c_str(), "a", stderr);
      (void)out;
      (void)err;
      execl(program.c_str(), program.c_str(), "-c", conf.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid_ > 0 && WaitFor([this] {
             asio::io_context io;
             asio::ip::tcp::socket s(io);
             asio::error_code ec;
             s.connect({asio::ip::make_address("127.0.0.1"), port_}, ec);
             return !ec;
           });
  }
  void Stop(int signal = SIGTERM) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  void Signal(int signal) { kill(pid_, signal); }
  uint16_t Port() const { return port_; }

 private:
  std::filesystem::path dir_;
  uint16_t port_;
  std::string extra_;
  pid_t pid_ = -1;
};

// A subscriber with a session the broker keeps (QoS 1, no clean start).
class Subscriber {
 public:
  Subscriber(uint16_t port, std::string topic, const char* user = nullptr,
             const char* password = nullptr,
             std::vector<std::pair<std::string, std::string>> earlier = {})
      : topic_(std::move(topic)), messages_(std::move(earlier)) {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    client_ = mosquitto_new("test-subscriber", false, this);
    if (user) mosquitto_username_pw_set(client_, user, password);
    mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
      if (rc == 0)
        mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->topic_.c_str(), 1);
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<Subscriber*>(self)->subscribed_ = true;
    });
    mosquitto_message_callback_set(
        client_, [](mosquitto*, void* self, const mosquitto_message* message) {
          auto* s = static_cast<Subscriber*>(self);
          std::lock_guard<std::mutex> lock(s->mutex_);
          s->messages_.emplace_back(message->topic,
                                    std::string(static_cast<const char*>(message->payload),
                                                static_cast<size_t>(message->payloadlen)));
        });
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect_async(client_, "127.0.0.1", port, 10);
    mosquitto_loop_start(client_);
  }
  ~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, true);
    mosquitto_destroy(client_);
  }
  bool Subscribed() const { return subscribed_; }
  std::vector<std::pair<std::string, std::string>> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  // The sequence numbers of the records received, in order.
  std::vector<int64_t> Seqs() {
    std::vector<int64_t> seqs;
    for (const auto& [topic, payload] : Messages())
      if (payload.rfind("{\"seq\":", 0) == 0) seqs.push_back(std::stoll(payload.substr(7)));
    return seqs;
  }

 private:
  std::string topic_;
  mosquitto* client_ = nullptr;
  std::atomic<bool> subscribed_{false};
  std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> messages_;
};

class Mqtt : public ::testing::Test {
 protected:
  void SetUp() override {
    if (BrokerProgram().empty()) GTEST_SKIP() << "mosquitto is not installed (./dev installs it)";
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("host-mqtt-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    broker_ = std::make_unique<Broker>(dir_, FreePort());
    StartSimulator();
    std::string error;
    const std::string query =
        "<DL_T645_2007_QUERY><Request><Enabled>1</Enabled><Device>1;2</Device>"
        "<Timeout>300</Timeout><RequestMethod><MethodPoll>1</MethodPoll>"
        "<PollInterval>150</PollInterval><PollUnits>MS</PollUnits></RequestMethod>"
        "<Response><Item><Function>0201FF00</Function></Item></Response></Request>"
        "</DL_T645_2007_QUERY>";
    ASSERT_TRUE(WriteSettingsFile(Path("host.ini"), "dlt645-host", query, &error)) << error;
  }
  void TearDown() override {
    StopHost();
    subscriber_.reset();
    broker_.reset();
    if (sim_thread_.joinable()) {
      sim_io_.stop();
      sim_thread_.join();
      server_->Stop();
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  void StartSimulator() {
    std::string error;
    ASSERT_TRUE(metersim::ParseSimOptions({"--listen", "127.0.0.1:0", "--meter", kMeters[0],
                                           "--meter", kMeters[1], "--clock", "2024-05-01T12:00:00"},
                                          &sim_config_, &error))
        << error;
    server_ = std::make_unique<metersim::TcpServer>(sim_io_, sim_config_);
    ASSERT_TRUE(server_->Open(&error)) << error;
    server_->Start();
    port_ = "tcp://127.0.0.1:" + std::to_string(server_->LocalEndpoint().port());
    sim_thread_ = std::thread([this] {
      auto work = asio::make_work_guard(sim_io_);
      sim_io_.run();
    });
  }

  // A subscriber of its own each time the broker starts, in the session the
  // broker kept: the library's client does not always come back by itself.
  void Subscribe(const char* user = nullptr, const char* password = nullptr) {
    std::vector<std::pair<std::string, std::string>> earlier;
    if (subscriber_) earlier = subscriber_->Messages();
    subscriber_.reset();
    subscriber_ =
        std::make_unique<Subscriber>(broker_->Port(), "t/#", user, password, std::move(earlier));
    ASSERT_TRUE(WaitFor([this] { return subscriber_->Subscribed(); }));
  }

  // The host in this process, appending its records and log to files.
  void StartHost(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--mqtt",
                                     "mqtt://127.0.0.1:" + std::to_string(broker_->Port()) + "/t",
                                     "--mqtt-client-id",
                                     "gw1",
                                     "--mqtt-outbox",
                                     Path("outbox.db"),
                                     "--settings",
                                     Path("host.ini"),
                                     port_};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    ASSERT_TRUE(ParseHostOptions(args, &options_, &error)) << error;
    records_ = std::fopen(Path("records.jsonl").c_str(), "ab");
    log_ = std::fopen(Path("host.log").c_str(), "ab");
    ASSERT_TRUE(records_ && log_);
    host_ = std::make_unique<Host>(options_, records_, log_);
    runner_ =
        std::thread([this] { code_ = host_->Run(Beside(HOST_PLUGIN_FILE), Path("host.ini")); });
  }
  void StopHost() {
    if (!host_) return;
    host_->RequestStop();
    runner_.join();
    EXPECT_EQ(code_, kExitOk);
    host_.reset();
    std::fclose(records_);
    std::fclose(log_);
  }

  std::vector<std::string> Printed() const {
    std::vector<std::string> lines;
    std::istringstream in(Slurp(Path("records.jsonl")));
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    return lines;
  }
  std::string Log() const { return Slurp(Path("host.log")); }
  // Until `n` more records are printed than now.
  void PollOn(size_t n) {
    const size_t want = Printed().size() + n;
    ASSERT_TRUE(WaitFor([&] { return Printed().size() >= want; })) << Log();
  }
  // Until every record printed so far has come.
  void AllArrive() {
    const size_t printed = Printed().size();
    EXPECT_TRUE(WaitFor([&] { return subscriber_->Seqs().size() >= printed; }))
        << subscriber_->Seqs().size() << " of " << printed << "\n"
        << Log();
  }

  // Each record printed reached the subscriber once, in order, on its
  // meter's topic, with the values printed.
  void ExpectEveryRecordOnceInOrder() {
    const std::vector<std::string> printed = Printed();
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto& m : subscriber_->Messages())
      if (m.second.rfind("{\"seq\":", 0) == 0) got.push_back(m);
    ASSERT_GE(got.size(), printed.size());
    const std::regex value("\"([A-Z_0-9]+)\":(-?[0-9.]+)");
    for (size_t i = 0; i < got.size(); ++i) {
      const auto& [topic, payload] = got[i];
      ASSERT_EQ(payload.rfind("{\"seq\":" + std::to_string(i + 1) + ",", 0), 0u)
          << "message " << i << ": " << payload;
      ASSERT_LT(i, printed.size()) << payload;
      const std::string& line = printed[i];
      const std::string meter = payload.substr(payload.find("\"meter\":\"") + 9, 12);
      EXPECT_EQ(topic, "t/" + meter + "/0201FF00");
      EXPECT_NE(line.find("\"DEVICE_ID\":\"" + meter + "\""), std::string::npos) << line;
      EXPECT_NE(payload.find("\"quality\":\"good\""), std::string::npos) << payload;
      const std::string values = payload.substr(payload.find("\"values\":"));
      size_t n = 0;
      for (auto it = std::sregex_iterator(values.begin(), values.end(), value);
           it != std::sregex_iterator(); ++it, ++n)
        EXPECT_NE(line.find(it->str()), std::string::npos) << it->str() << " not in " << line;
      EXPECT_EQ(n, 3u) << payload;  // the three voltages
    }
  }

  std::filesystem::path dir_;
  std::unique_ptr<Broker> broker_;
  std::unique_ptr<Subscriber> subscriber_;
  asio::io_context sim_io_;
  metersim::SimConfig sim_config_;
  std::unique_ptr<metersim::TcpServer> server_;
  std::thread sim_thread_;
  std::string port_;
  HostOptions options_;
  std::unique_ptr<Host> host_;
  std::thread runner_;
  int code_ = -1;
  std::FILE* records_ = nullptr;
  std::FILE* log_ = nullptr;
};

TEST_F(Mqtt, EveryRecordArrivesOnceInOrderAcrossOutagesAndRestarts) {
  ASSERT_TRUE(broker_->Start());
  ASSERT_NO_FATAL_FAILURE(Subscribe());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(PollOn(4));
  AllArrive();

  // The broker goes away while the meters are polled.
  broker_->Stop();
  ASSERT_NO_FATAL_FAILURE(PollOn(8));
  ASSERT_TRUE(broker_->Start());
  ASSERT_NO_FATAL_FAILURE(Subscribe());
  ASSERT_NO_FATAL_FAILURE(PollOn(2));
  AllArrive();

  // The host stops during an outage; the next one sends what waited.
  broker_->Stop();
  ASSERT_NO_FATAL_FAILURE(PollOn(6));
  StopHost();
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(PollOn(4));
  ASSERT_TRUE(broker_->Start());
  ASSERT_NO_FATAL_FAILURE(Subscribe());
  ASSERT_NO_FATAL_FAILURE(PollOn(2));
  AllArrive();
  StopHost();
  AllArrive();
  ExpectEveryRecordOnceInOrder();

  const std::string log = Log();
  EXPECT_NE(log.find("the connection was lost; records wait in"), std::string::npos) << log;
  EXPECT_NE(log.find("records wait in " + Path("outbox.db")), std::string::npos) << log;
  // The gateway said "offline" on its clean end; retained for whoever asks.
  const auto messages = subscriber_->Messages();
  std::vector<std::string> status;
  for (const auto& [topic, payload] : messages)
    if (topic == "t/status/gw1") status.push_back(payload);
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status.front(), "online");
  EXPECT_EQ(status.back(), "offline");
}

// A broker that stalls for seconds without closing the connection: polling
// and printing keep their pace, and when it wakes every record arrives once
// and in order.
TEST_F(Mqtt, ASlowBrokerHoldsUpNothingAndLosesNothing) {
  ASSERT_TRUE(broker_->Start());
  ASSERT_NO_FATAL_FAILURE(Subscribe());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(PollOn(4));
  AllArrive();
  broker_->Signal(SIGSTOP);
  const auto stalled = Clock::now();
  ASSERT_NO_FATAL_FAILURE(PollOn(10));
  // Two meters every 150 ms: ten records take about a second.
  EXPECT_LT(Clock::now() - stalled, std::chrono::seconds(3)) << Log();
  std::this_thread::sleep_until(stalled + std::chrono::seconds(4));
  broker_->Signal(SIGCONT);
  ASSERT_NO_FATAL_FAILURE(PollOn(2));
  AllArrive();
  StopHost();
  AllArrive();
  ExpectEveryRecordOnceInOrder();
}

// A broker that refuses the login: said in the log, the records wait; the
// right password sends them all. A broker that hangs mid-publish and dies:
// what it never acknowledged goes to the next one, the outbox empties.
TEST_F(Mqtt, ARefusedLoginOrAHungThenKilledBrokerLosesNoRecord) {
  const std::string passwords = Path("passwords");
  std::ofstream(passwords) << "";
  for (const char* user : {"gw secret", "sub sub"})
    ASSERT_EQ(
        std::system(("mosquitto_passwd -b " + passwords + " " + user + " >/dev/null 2>&1").c_str()),
        0)
        << "mosquitto_passwd";
  broker_->Configure("allow_anonymous false\npassword_file " + passwords + "\n");
  ASSERT_TRUE(broker_->Start());
  subscriber_ = nullptr;
  StartHost({"--mqtt-user", "gw", "--mqtt-password", "wrong"});
  ASSERT_NO_FATAL_FAILURE(PollOn(4));
  StopHost();
  const size_t waiting = Printed().size();
  EXPECT_NE(Log().find("the broker refused the connection"), std::string::npos) << Log();

  // The right password sends all that waited.
  ASSERT_NO_FATAL_FAILURE(Subscribe("sub", "sub"));
  StartHost({"--mqtt-user", "gw", "--mqtt-password", "secret"});
  ASSERT_TRUE(WaitFor([&] { return subscriber_->Seqs().size() >= waiting; })) << Log();

  // A broker that hangs while records flow (they go out, unacknowledged),
  // then dies: no goodbye, no saved state. What it never acknowledged is
  // sent again to the next one.
  broker_->Signal(SIGSTOP);
  ASSERT_NO_FATAL_FAILURE(PollOn(4));
  broker_->Stop(SIGKILL);
  ASSERT_NO_FATAL_FAILURE(PollOn(2));
  ASSERT_TRUE(broker_->Start());
  subscriber_.reset();  // the killed broker kept no session
  ASSERT_NO_FATAL_FAILURE(Subscribe("sub", "sub"));
  const size_t printed = Printed().size();
  ASSERT_NO_FATAL_FAILURE(PollOn(3));
  const size_t later = Printed().size();
  ASSERT_TRUE(WaitFor([&] {
    const auto seqs = subscriber_->Seqs();
    return !seqs.empty() && seqs.back() >= static_cast<int64_t>(later);
  })) << Log();
  StopHost();
  {
    host::Outbox outbox(Path("outbox.db"), 1 << 20);
    std::string error;
    ASSERT_TRUE(outbox.Open(&error)) << error;
    EXPECT_EQ(outbox.Waiting(), 0u) << Log();
  }
  // Since the subscriber came back, nothing is missing and nothing twice.
  std::vector<int64_t> seqs = subscriber_->Seqs();
  std::vector<int64_t> tail;
  for (int64_t s : seqs)
    if (s > static_cast<int64_t>(printed)) tail.push_back(s);
  for (size_t i = 0; i < tail.size(); ++i)
    EXPECT_EQ(tail[i], static_cast<int64_t>(printed + 1 + i));
  EXPECT_GE(tail.size(), later - printed);
}

}  // namespace

#endif

namespace {

TEST(MqttMessage, TopicAndPayloadCarryMeterFunctionQualityAndValues) {
  host::Record r;
  const auto add = [&r](const char* name, host::Value v) {
    r.push_back(host::Field{name, 0, std::move(v)});
  };
  add("DATE_TIME_STAMP", host::Value::Date(45413.5));  // 2024-05-01 12:00 local
  add("DATA_SOURCE_NAME", host::Value::Text("tcp://x:1"));
  add("DEVICE_ID", host::Value::Text("000000000001"));
  add("DATA_TYPE_ID_STR", host::Value::Text("0201FF00"));
  add("QUALITY", host::Value::Text("incomplete"));
  add("REASON", host::Value::Text("phase \"C\" missing"));
  add("VOLTAGE1", host::Value::Double(220.5));
  EXPECT_EQ(host::MqttTopic("site/a", r), "site/a/000000000001/0201FF00");
  const std::string p = host::MqttPayload(r);
  EXPECT_EQ(p.rfind("{\"time\":\"2024-05-01T12:00:00.000", 0), 0u) << p;
  EXPECT_NE(p.find("\",\"meter\":\"000000000001\",\"function\":\"0201FF00\""), std::string::npos)
      << p;
  EXPECT_NE(p.find("\"quality\":\"incomplete\",\"reason\":\"phase \\\"C\\\" missing\","
                   "\"values\":{\"VOLTAGE1\":220.5}}"),
            std::string::npos)
      << p;
  // A level with a wildcard or separator cannot split or widen a topic.
  r[2].value = host::Value::Text("a/+#");
  EXPECT_EQ(host::MqttTopic("p", r), "p/a___/0201FF00");
}

}  // namespace

#ifdef DLT645_HOST_MQTT
namespace {

// The outbox on its own: order, its bound, and what it keeps across runs.
TEST(MqttOutbox, KeepsOrderDropsTheOldestPastItsSizeAndRemembers) {
  std::random_device rd;
  const auto dir = std::filesystem::temp_directory_path() / ("outbox-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "o.db").string();
  const std::string payload(79, 'x');  // 100 bytes a message with topic and upkeep
  std::string error;
  {
    host::Outbox box(path, 4000);
    ASSERT_TRUE(box.Open(&error)) << error;
    for (int i = 0; i < 30; ++i)
      ASSERT_TRUE(box.Append("t/a/b", payload, &error));
    ASSERT_TRUE(box.Commit(&error));
    EXPECT_EQ(box.Trim(0), 0u);  // 3000 bytes fit
    const auto first = box.After(0, 2);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].id, 1);
    EXPECT_EQ(first[1].id, 2);
    box.Remove({1});
    for (int i = 0; i < 20; ++i)
      ASSERT_TRUE(box.Append("t/a/b", payload, &error));
    // 49 messages, 4900 bytes: down to nine tenths; message 2 is out with
    // the client and stays, the oldest after it go.
    EXPECT_EQ(box.Trim(2), 13u);
    EXPECT_EQ(box.Waiting(), 36u);
    const auto left = box.After(0, 3);
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(left[0].id, 2);
    EXPECT_EQ(left[1].id, 16);
    EXPECT_EQ(left[2].id, 17);
  }
  {
    host::Outbox box(path, 4000);
    ASSERT_TRUE(box.Open(&error)) << error;
    EXPECT_EQ(box.Waiting(), 36u);
    EXPECT_EQ(box.Dropped(), 13u);
    std::vector<int64_t> all;
    for (const auto& m : box.After(0, 100))
      all.push_back(m.id);
    box.Remove(all);
    EXPECT_EQ(box.Waiting(), 0u);
    EXPECT_EQ(box.Bytes(), 0u);
    // Sequence numbers never come again, also from an empty outbox.
    ASSERT_TRUE(box.Append("t", "{}", &error));
    ASSERT_TRUE(box.Commit(&error));
    EXPECT_EQ(box.After(0, 1).at(0).id, 51);
  }
  // A file that is not a database.
  std::ofstream((dir / "bad.db").string(), std::ios::binary) << std::string(4096, 'x');
  host::Outbox bad((dir / "bad.db").string(), 4000);
  EXPECT_FALSE(bad.Open(&error));
  EXPECT_NE(error.find("not a database"), std::string::npos) << error;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
#endif
