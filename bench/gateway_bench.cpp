// The gateway's outputs at speed: records a second into the store, records
// a second through the outbox to a broker on loopback (mosquitto, started
// here), and the memory the host holds while 100,000 records wait for a
// broker that is down. A program of its own rather than a benchmark loop:
// the broker and the outage are one-off set-ups.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include <asio.hpp>

#include "host_mqtt.h"
#include "host_records.h"
#include "host_store.h"

namespace {

using namespace host;
using Clock = std::chrono::steady_clock;

// A record as the plug-in hands it: its own fields and six values.
Record Reading(int i) {
  Record r;
  const auto add = [&r](const char* name, Value v) { r.push_back(Field{name, 0, std::move(v)}); };
  add("DATE_TIME_STAMP", Value::Date(45413.5 + i / 86400.0));
  add("DATA_SOURCE_NAME", Value::Text("listen://0.0.0.0:9100"));
  add("CLIENTID", Value::Int(i % 100));
  add("DEVICE_ID", Value::Text("0000000" + std::to_string(10000 + i % 100)));
  add("DATA_TYPE_ID_STR", Value::Text("0201FF00"));
  for (const char* name : {"VOLTAGE1", "VOLTAGE2", "VOLTAGE3", "CURRENT1", "CURRENT2", "CURRENT3"})
    add(name, Value::Double(220.0 + (i % 37) * 0.1));
  return r;
}

long RssKb() {
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

uint16_t FreePort() {
  asio::io_context io;
  asio::ip::tcp::acceptor probe(io, {asio::ip::make_address("127.0.0.1"), 0});
  return probe.local_endpoint().port();
}

void Quiet(int, const std::string&) {}

void StoreRate(const std::filesystem::path& dir) {
  constexpr int kRecords = 20000;
  StoreOptions o;
  o.path = (dir / "store.db").string();
  RecordStore store(o, Quiet);
  if (!store.Open()) return;
  const auto start = Clock::now();
  for (int i = 0; i < kRecords; ++i)
    store.Add(Reading(i));
  store.Commit();
  const double s = Seconds(start);
  std::printf("store: %d records (%llu values) in %.2f s: %.0f records/s\n", kRecords,
              static_cast<unsigned long long>(store.RowsStored()), s, kRecords / s);
}

void BrokerRate(const std::filesystem::path& dir) {
  const char* program = "/usr/sbin/mosquitto";
  if (access(program, X_OK) != 0) {
    std::printf("broker: skipped, mosquitto is not installed\n");
    return;
  }
  const uint16_t port = FreePort();
  const std::string conf = (dir / "broker.conf").string();
  std::ofstream(conf) << "listener " << port << " 127.0.0.1\nallow_anonymous true\n";
  std::fflush(stdout);
  const pid_t broker = fork();
  if (broker == 0) {
    std::FILE* out = std::freopen("/dev/null", "w", stdout);
    std::FILE* err = std::freopen("/dev/null", "w", stderr);
    (void)out;
    (void)err;
    execl(program, program, "-c", conf.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  constexpr int kRecords = 20000;
  MqttSettings s;
  s.url.host = "127.0.0.1";
  s.url.port = port;
  s.client_id = "bench";
  s.outbox = (dir / "outbox-up.db").string();
  {
    MqttPublisher mqtt(s, Quiet);
    if (mqtt.Open()) {
      while (!mqtt.Counters().connected) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        mqtt.Tick();
      }
      const auto start = Clock::now();
      for (int i = 0; i < kRecords; ++i) {
        mqtt.Add(Reading(i));
        if (i % 200 == 199) mqtt.Tick();
      }
      while (mqtt.Counters().published < kRecords && Seconds(start) < 120) {
        mqtt.Tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      const double t = Seconds(start);
      std::printf(
          "broker: %llu records acknowledged by mosquitto on loopback in %.2f s: %.0f "
          "records/s\n",
          static_cast<unsigned long long>(mqtt.Counters().published), t,
          mqtt.Counters().published / t);
      mqtt.Close(std::chrono::seconds(2));
    }
  }
  kill(broker, SIGTERM);
  waitpid(broker, nullptr, 0);
}

void WaitingMemory(const std::filesystem::path& dir) {
  constexpr int kRecords = 100000;
  MqttSettings s;
  s.url.host = "127.0.0.1";
  s.url.port = FreePort();  // nobody there
  s.client_id = "bench-down";
  s.outbox = (dir / "outbox-down.db").string();
  s.outbox_bytes = uint64_t{1} << 30;
  const long before = RssKb();
  MqttPublisher mqtt(s, Quiet);
  if (!mqtt.Open()) return;
  const auto start = Clock::now();
  for (int i = 0; i < kRecords; ++i) {
    mqtt.Add(Reading(i));
    if (i % 1000 == 999) mqtt.Tick();
  }
  mqtt.Tick();
  const double t = Seconds(start);
  const long after = RssKb();
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(s.outbox, ec);
  std::printf(
      "broker down: %llu records waiting, queued at %.0f records/s; memory %ld KB before, "
      "%ld KB after (+%ld KB); outbox file %.1f MB\n",
      static_cast<unsigned long long>(mqtt.Counters().waiting), kRecords / t, before, after,
      after - before, static_cast<double>(bytes) / 1e6);
  mqtt.Close(std::chrono::milliseconds(0));
}

}  // namespace

int main() {
  std::random_device rd;
  const auto dir =
      std::filesystem::temp_directory_path() / ("gateway-bench-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  StoreRate(dir);
  if (MqttAvailable()) {
    BrokerRate(dir);
    WaitingMemory(dir);
  } else {
    std::printf("broker: skipped, this build has no MQTT client\n");
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
