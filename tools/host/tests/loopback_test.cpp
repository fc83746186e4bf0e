// The host, the real plug-in and the simulated meters over loopback: every
// fault the simulator can put on a line, with the records the host prints
// held against what the meters answered. The meters' clock stands still, so
// every record of a meter must carry exactly the model's values.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "host_app.h"
#include "host_config.h"
#include "host_records.h"
#include "host_test_support.h"
#include "meter_model.h"
#include "platform/module.h"
#include "platform/process.h"
#include "sim_net.h"

#ifdef DLT645_HOST_STORE
#include <sqlite3.h>
#endif

namespace {

using namespace host;
using namespace host_test;
using asio::ip::tcp;
using metersim::MeterAddress;
using metersim::SessionEvent;

constexpr const char* kClock = "2024-05-01T12:00:00";

MeterAddress Address(const std::string& text) {
  MeterAddress a{};
  EXPECT_TRUE(metersim::ParseAddress(text, &a)) << text;
  return a;
}

// One JSON line of the host: a flat object of strings and numbers.
using Fields = std::map<std::string, std::string>;

bool ParseRecord(const std::string& line, Fields* out) {
  size_t i = 0;
  auto string_at = [&](std::string* s) {
    if (i >= line.size() || line[i] != '"') return false;
    for (++i; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      s->push_back(line[i]);
    }
    return i++ < line.size();
  };
  if (line.empty() || line[i++] != '{') return false;
  while (i < line.size() && line[i] != '}') {
    std::string key, value;
    if (!string_at(&key) || i >= line.size() || line[i++] != ':') return false;
    if (i < line.size() && line[i] == '"') {
      if (!string_at(&value)) return false;
    } else {
      while (i < line.size() && line[i] != ',' && line[i] != '}')
        value.push_back(line[i++]);
    }
    (*out)[key] = value;
    if (i < line.size() && line[i] == ',') ++i;
  }
  return i < line.size();
}

std::vector<Fields> ParseRecords(const std::string& text) {
  std::vector<Fields> records;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    Fields f;
    EXPECT_TRUE(ParseRecord(line, &f)) << line;
    records.push_back(std::move(f));
  }
  return records;
}

// The queries of these runs: one 2007 value, one 2007 block of rates and one
// 1997 value per meter, every half second.
std::string Query(const std::string& devices, const std::string& items, int timeout_ms = 300,
                  int poll_ms = 500) {
  return "<DL_T645_2007_QUERY><Request caption=\"Loop\"><Enabled>1</Enabled><Device>" + devices +
         "</Device><Timeout>" + std::to_string(timeout_ms) +
         "</Timeout><RequestMethod><MethodPoll>1</MethodPoll><PollInterval>" +
         std::to_string(poll_ms) + "</PollInterval><PollUnits>MS</PollUnits></RequestMethod>" +
         "<Response>" + items + "</Response></Request></DL_T645_2007_QUERY>";
}

std::string Item(const char* function, int rate = 0) {
  return std::string("<Item><Function>") + function + "</Function><Rate>" + std::to_string(rate) +
         "</Rate></Item>";
}

const std::string kItems = Item("0201FF00") + Item("0001FF00") + Item("8000B611");
constexpr uint32_t kLastId = 0xB611;  // the 1997 item closes a meter's round

// What a record of this meter must hold, by column.
std::map<std::string, double> Expected(const std::string& meter) {
  metersim::SimTime t = 0;
  EXPECT_TRUE(metersim::ParseSimTime(kClock, &t));
  const MeterAddress a = Address(meter);
  std::map<std::string, double> want;
  const auto voltages = metersim::ReadMeter(a, 0x0201FF00, false, t).values;
  for (size_t i = 0; i < voltages.size(); ++i)
    want["VOLTAGE" + std::to_string(i + 1)] = voltages[i].Value();
  const auto energies = metersim::ReadMeter(a, 0x0001FF00, false, t).values;
  for (size_t i = 0; i < energies.size(); ++i)
    want["TOTAL_POSITIVE_ACTIVE" + std::to_string(i + 1)] = energies[i].Value();
  want["PHASE_A_VOLTAGE"] = metersim::ReadMeter(a, kLastId, true, t).values.at(0).Value();
  return want;
}

class Watcher final : public metersim::SessionObserver {
 public:
  void OnSessionEvent(const SessionEvent& event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
  }
  // The meters' clock at the last event of the identifier; 0 when none.
  metersim::SimTime LastTime(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = events_.rbegin(); it != events_.rend(); ++it)
      if (it->id == id) return it->time;
    return 0;
  }
  // Events of this kind (for this meter and identifier when given).
  size_t Count(SessionEvent::Kind kind, const std::string& meter = {}, uint32_t id = 0) {
    const MeterAddress a = meter.empty() ? MeterAddress{} : Address(meter);
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count_if(events_.begin(), events_.end(), [&](const auto& e) {
      return e.kind == kind && (meter.empty() || e.meter == a) && (id == 0 || e.id == id);
    }));
  }

 private:
  std::mutex mutex_;
  std::vector<SessionEvent> events_;
};

class Loopback : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("loopback-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    StopSimulator();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  // Meters behind a serial-to-Ethernet converter on a free port, or DTUs
  // dialling into `dtu_port`; `args` as on the simulator's command line.
  void StartSimulator(std::vector<std::string> args, uint16_t dtu_port = 0) {
    if (dtu_port)
      args.insert(args.begin(), {"--dtu", "127.0.0.1:" + std::to_string(dtu_port)});
    else
      args.insert(args.begin(), {"--listen", "127.0.0.1:0"});
    args.insert(args.end(), {"--clock", kClock, "--seed", "7"});
    std::string error;
    ASSERT_TRUE(metersim::ParseSimOptions(args, &sim_config_, &error)) << error;
    sim_config_.observer = &watcher_;
    if (dtu_port) {
      pool_ = std::make_unique<metersim::DtuPool>(sim_io_, sim_config_);
      ASSERT_TRUE(pool_->Open(&error)) << error;
      pool_->Start();
    } else {
      server_ = std::make_unique<metersim::TcpServer>(sim_io_, sim_config_);
      ASSERT_TRUE(server_->Open(&error)) << error;
      server_->Start();
      converter_ = "tcp://127.0.0.1:" + std::to_string(server_->LocalEndpoint().port());
    }
    sim_thread_ = std::thread([this] {
      auto work = asio::make_work_guard(sim_io_);
      sim_io_.run();
    });
  }
  void StopSimulator() {
    if (!sim_thread_.joinable()) return;
    sim_io_.stop();
    sim_thread_.join();
    if (server_) server_->Stop();
    if (pool_) pool_->Stop();
    server_.reset();
    pool_.reset();
  }

  // Runs the host with the query until `done` holds for the records printed
  // so far (or 30 s pass); `done` may also act on the line meanwhile.
  void RunHost(const std::string& query, std::vector<std::string> args,
               const std::function<bool(const std::vector<Fields>&)>& done) {
    std::string error;
    ASSERT_TRUE(WriteSettingsFile(Path("host.ini"), "dlt645-host", query, &error)) << error;
    HostOptions options;
    ASSERT_TRUE(ParseHostOptions(args, &options, &error)) << error;
    std::FILE* records = std::fopen(Path("records.jsonl").c_str(), "wb");
    std::FILE* log = std::fopen(Path("host.log").c_str(), "wb");
    ASSERT_TRUE(records && log);
    {
      Host app(options, records, log);
      int code = -1;
      std::thread runner([&] { code = app.Run(Beside(HOST_PLUGIN_FILE), Path("host.ini")); });
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (std::chrono::steady_clock::now() < deadline) {
        std::fflush(records);
        if (done(ParseRecords(Slurp(Path("records.jsonl"))))) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      app.RequestStop();
      runner.join();
      EXPECT_EQ(code, kExitOk);
    }
    std::fclose(records);
    std::fclose(log);
    records_ = ParseRecords(Slurp(Path("records.jsonl")));
    log_ = Slurp(Path("host.log"));
  }

  // The meter's records with values, or (failed) those saying a request
  // of it finally failed.
  std::vector<Fields> Of(const std::string& meter, bool failed = false) const {
    std::vector<Fields> mine;
    for (const Fields& r : records_)
      if (r.count("DEVICE_ID") && r.at("DEVICE_ID") == meter && (r.count("QUALITY") > 0) == failed)
        mine.push_back(r);
    return mine;
  }
  bool LogHas(const std::string& text) const { return log_.find(text) != std::string::npos; }

  // Every record of the meter holds the model's values; with `complete`
  // every column is there, otherwise what a lost answer left out may miss.
  // Complete records are alike in everything but their time stamp.
  void ExpectMetersValues(const std::string& meter, bool complete = true) {
    const std::map<std::string, double> want = Expected(meter);
    Fields first;
    for (Fields r : Of(meter)) {
      bool whole = true;
      for (const auto& [column, value] : want) {
        if (!r.count(column)) {
          whole = false;
          EXPECT_FALSE(complete) << meter << " lacks " << column;
          continue;
        }
        EXPECT_DOUBLE_EQ(std::stod(r.at(column)), value) << meter << " " << column;
      }
      r.erase("DATE_TIME_STAMP");
      if (!whole) continue;
      if (first.empty()) first = r;
      EXPECT_EQ(r, first) << meter;
    }
  }

  // Every round of the meter that the meter closed made exactly one record:
  // the last may still be on its way when the host stops.
  void ExpectOneRecordPerRound(const std::string& meter) {
    const size_t answered = watcher_.Count(SessionEvent::kAnswer, meter, kLastId);
    const size_t records = Of(meter).size();
    EXPECT_LE(records, answered) << meter;
    EXPECT_GE(records + 1, answered) << meter;
  }

  static std::function<bool(const std::vector<Fields>&)> AtLeast(size_t n,
                                                                 std::vector<std::string> meters) {
    return [n, meters](const std::vector<Fields>& records) {
      for (const std::string& m : meters) {
        size_t k = 0;
        for (const Fields& r : records)
          k += r.count("DEVICE_ID") && r.at("DEVICE_ID") == m;
        if (k < n) return false;
      }
      return true;
    };
  }

  std::filesystem::path dir_;
  asio::io_context sim_io_;
  metersim::SimConfig sim_config_;
  std::unique_ptr<metersim::TcpServer> server_;
  std::unique_ptr<metersim::DtuPool> pool_;
  std::thread sim_thread_;
  Watcher watcher_;
  std::string converter_;
  std::vector<Fields> records_;
  std::string log_;
};

const std::vector<std::string> kTwo = {"000000000001", "000000000002"};

// A fault of the line and what it must not change: one record per round,
// each with exactly the meters' values.
struct LineFault {
  const char* name;
  std::vector<std::string> options;
  bool exact_rounds;  // false where lost answers are asked again
};

void PrintTo(const LineFault& fault, std::ostream* out) {
  *out << fault.name;
}

class LoopbackFaults : public Loopback, public ::testing::WithParamInterface<LineFault> {};

TEST_P(LoopbackFaults, EveryRoundGivesOneRecordWithTheMetersValues) {
  std::vector<std::string> sim = {"--meter", kTwo[0], "--meter", kTwo[1]};
  sim.insert(sim.end(), GetParam().options.begin(), GetParam().options.end());
  ASSERT_NO_FATAL_FAILURE(StartSimulator(sim));
  const bool unsolicited = std::string(GetParam().name) == "unsolicited";
  RunHost(Query("1;2", kItems), {"--settings", "x.ini", converter_}, [&](const auto& records) {
    return AtLeast(4, kTwo)(records) && (!unsolicited || watcher_.Count(SessionEvent::kAck) > 0);
  });
  StopSimulator();
  for (const std::string& meter : kTwo) {
    ASSERT_GE(Of(meter).size(), 4u) << meter << "\n" << log_;
    ExpectMetersValues(meter, GetParam().exact_rounds);
    if (GetParam().exact_rounds)
      ExpectOneRecordPerRound(meter);
    else
      EXPECT_LE(Of(meter).size(), watcher_.Count(SessionEvent::kAnswer, meter, kLastId));
  }
  EXPECT_FALSE(LogHas("results but handed over")) << log_;

  const std::string name = GetParam().name;
  if (name == "echo") {
    // Its own requests come back: named, never taken for answers.
    EXPECT_TRUE(LogHas("Outgoing data received!")) << log_;
  } else if (name == "unsolicited") {
    // The meters' 0x9F frames are answered with 0x1F.
    const size_t sent = watcher_.Count(SessionEvent::kUnsolicited);
    const size_t acks = watcher_.Count(SessionEvent::kAck);
    EXPECT_GE(acks, 1u);
    EXPECT_LE(acks, sent);
    EXPECT_GE(acks + 1, sent);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Line, LoopbackFaults,
    ::testing::Values(LineFault{"clean", {}, true}, LineFault{"echo", {"--echo"}, true},
                      LineFault{"split", {"--split"}, true},
                      LineFault{"duplicate", {"--duplicate"}, true},
                      LineFault{"delay", {"--delay", "150"}, true},
                      LineFault{"unsolicited", {"--unsolicited-every", "1"}, true},
                      LineFault{"noise", {"--noise", "0.01"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Loopback, ASilentMeterIsAskedThreeTimesAndTheOthersGoOn) {
  ASSERT_NO_FATAL_FAILURE(
      StartSimulator({"--meter", kTwo[0], "--meter", kTwo[1], "--silent", kTwo[1]}));
  RunHost(Query("1;2", kItems), {"--settings", "x.ini", converter_}, [&](const auto& records) {
    return AtLeast(3, {kTwo[0]})(records) &&
           watcher_.Count(SessionEvent::kSilent, kTwo[1], 0x0201FF00) >= 3;
  });
  StopSimulator();
  ExpectMetersValues(kTwo[0]);
  ExpectOneRecordPerRound(kTwo[0]);
  EXPECT_TRUE(Of(kTwo[1]).empty());
  ASSERT_FALSE(Of(kTwo[1], true).empty());
  EXPECT_EQ(Of(kTwo[1], true)[0].at("QUALITY"), "timeout");
  // Three attempts for the first item of the silent meter's round.
  EXPECT_GE(watcher_.Count(SessionEvent::kSilent, kTwo[1], 0x0201FF00), 3u);
  EXPECT_TRUE(LogHas(". Loop. Request timeout")) << log_;
}

// Every request the host wrote ends in an answer taken into a record, a
// logged time-out, or a line saying it was still open at the end, and each
// of those lines names the meter's address.
TEST_F(Loopback, EveryPollEndsInARecordOrALoggedReason) {
  const std::string silent = "000000000003";
  ASSERT_NO_FATAL_FAILURE(
      StartSimulator({"--meter", kTwo[0], "--meter", kTwo[1], "--meter", silent, "--silent", silent,
                      "--noise", "0.01", "--split", "--duplicate"}));
  RunHost(Query("1;2;3", kItems), {"--settings", "x.ini", "--verbose", converter_},
          [&](const auto& records) {
            return AtLeast(6, kTwo)(records) && AtLeast(2, {silent})(records);
          });
  StopSimulator();
  std::vector<std::string> lines;
  {
    std::istringstream in(log_);
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
  }
  const auto count = [&](const std::string& a, const std::string& b) {
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
      return l.find(a) != std::string::npos && l.find(b) != std::string::npos;
    }));
  };
  for (const std::string& meter : {kTwo[0], kTwo[1], silent}) {
    const std::string wire = " >> 68 0" + meter.substr(11) + " 00 00 00 00 00 68 ";
    const size_t written = count(wire, "");
    size_t taken = 0;
    const size_t failed = Of(meter, true).size();
    for (const Fields& r : Of(meter, true)) {
      EXPECT_EQ(r.at("QUALITY"), "timeout") << meter;
      EXPECT_NE(r.at("REASON").find("no answer after"), std::string::npos);
    }
    for (const Fields& r : Of(meter)) {
      for (const char* value : {"VOLTAGE1", "TOTAL_POSITIVE_ACTIVE1", "PHASE_A_VOLTAGE"})
        taken += r.count(value);
    }
    const std::string where = "address " + meter + ")";
    const size_t timeouts = count("Request timeout (client", where);
    const size_t open = count("Not answered: ", where);
    EXPECT_GT(written, 0u) << meter;
    EXPECT_EQ(written, taken + timeouts + open) << meter << "\n" << log_;
    if (meter == silent) {
      EXPECT_EQ(taken, 0u);
      EXPECT_GE(failed, 2u);
    }
  }
}

TEST_F(Loopback, ErrorAnswersAreLoggedAndTheRestOfTheRoundArrives) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--meter", kTwo[0]}));
  // The meters keep four rates: rate 5 is refused.
  RunHost(Query("1", Item("0201FF00") + Item("00010000", 5)), {"--settings", "x.ini", converter_},
          [&](const auto& records) {
            return AtLeast(2, {kTwo[0]})(records) &&
                   watcher_.Count(SessionEvent::kErrorAnswer, kTwo[0]) >= 2;
          });
  StopSimulator();
  EXPECT_TRUE(LogHas("Received message from 000000000001 with error code on request function"))
      << log_;
  EXPECT_TRUE(LogHas("[Exceed rate number]")) << log_;
  const std::map<std::string, double> want = Expected(kTwo[0]);
  for (const Fields& r : Of(kTwo[0]))
    EXPECT_DOUBLE_EQ(std::stod(r.at("VOLTAGE1")), want.at("VOLTAGE1"));
  // Each refusal is also a record of its own.
  ASSERT_FALSE(Of(kTwo[0], true).empty());
  EXPECT_EQ(Of(kTwo[0], true)[0].at("QUALITY"), "error");
  EXPECT_EQ(Of(kTwo[0], true)[0].at("REASON"), "Exceed rate number");
}

TEST_F(Loopback, AConverterThatDropsItsClientsIsDialledAgain) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--meter", kTwo[0]}));
  bool dropped = false;
  RunHost(Query("1", kItems), {"--settings", "x.ini", converter_}, [&](const auto& records) {
    if (!dropped && AtLeast(2, {kTwo[0]})(records)) {
      asio::post(sim_io_, [this] { server_->DropConnections(); });
      dropped = true;
      return false;
    }
    return AtLeast(5, {kTwo[0]})(records);
  });
  StopSimulator();
  ASSERT_GE(Of(kTwo[0]).size(), 5u) << log_;
  ExpectMetersValues(kTwo[0]);
  EXPECT_TRUE(LogHas("closed by the peer")) << log_;
}

TEST_F(Loopback, DtusThatDialInAreEachAClientOfTheirOwn) {
  const uint16_t port = FreePort();
  const std::vector<std::string> meters = {"000000000011", "000000000012", "000000000013"};
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--meters", "11:3", "--noise", "0.002"}, port));
  RunHost(Query("999999999999", kItems, 1000),
          {"--settings", "x.ini", "--module", "gprs", "listen://127.0.0.1:" + std::to_string(port)},
          AtLeast(2, meters));
  StopSimulator();
  std::map<std::string, std::string> client_of;
  for (const std::string& meter : meters) {
    ASSERT_GE(Of(meter).size(), 2u) << meter << "\n" << log_;
    ExpectMetersValues(meter, false);
    // A meter stays on its own connection.
    for (const Fields& r : Of(meter)) {
      if (!client_of.count(meter)) client_of[meter] = r.at("CLIENTID");
      EXPECT_EQ(r.at("CLIENTID"), client_of[meter]);
    }
  }
  EXPECT_EQ(client_of.size(), 3u);
  EXPECT_NE(client_of[meters[0]], client_of[meters[1]]);
  EXPECT_NE(client_of[meters[1]], client_of[meters[2]]);
}

TEST_F(Loopback, AFloodingConnectionCostsTheMeterBesideItNoPoll) {
  const uint16_t port = FreePort();
  const std::string meter = "000000000011";
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--meters", "11:1"}, port));
  // Wake-up bytes without pause, as fast as the host takes them: no rate
  // limit, so the loop's fairness alone must keep the meter's period.
  std::atomic<bool> flooding{true};
  std::atomic<uint64_t> flooded{0};
  std::thread flood([&] {
    asio::io_context io;
    tcp::socket s(io);
    asio::error_code ec = asio::error::not_connected;
    while (ec && flooding) {
      s.close(ec);
      s.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), ec);
      if (ec) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::vector<uint8_t> wake(65536, 0xFE);
    while (!ec && flooding)
      flooded += asio::write(s, asio::buffer(wake), ec);
  });
  constexpr int kTimeoutMs = 1000;
  constexpr int kPollMs = 500;
  std::vector<std::chrono::steady_clock::time_point> seen;
  RunHost(Query("999999999999", kItems, kTimeoutMs, kPollMs),
          {"--settings", "x.ini", "--module", "gprs", "--max-rate", "0",
           "listen://127.0.0.1:" + std::to_string(port)},
          [&](const std::vector<Fields>& records) {
            size_t mine = 0;
            for (const Fields& r : records)
              mine += r.count("DEVICE_ID") && r.at("DEVICE_ID") == meter;
            while (seen.size() < mine)
              seen.push_back(std::chrono::steady_clock::now());
            return mine >= 12;
          });
  flooding = false;
  flood.join();
  StopSimulator();
  ASSERT_GE(seen.size(), 12u) << log_;
  ExpectMetersValues(meter, false);
  // The records are watched every 50 ms.
  for (size_t i = 1; i < seen.size(); ++i)
    EXPECT_LE(seen[i] - seen[i - 1], std::chrono::milliseconds(kPollMs + kTimeoutMs + 100)) << i;
  EXPECT_GT(flooded.load(), 256u * 1024) << log_;
}

// The two programs as a user runs them, with the library beside the host.
TEST_F(Loopback, TheProgramsTogether) {
  const uint16_t port = FreePort();
  std::ofstream(Path("q.xml"), std::ios::binary) << Query("1;2", kItems);
  int sim_code = -1;
  std::thread sim([&] {
    sim_code = platform::RunProgram(
        Beside(SIM_EXE_FILE), {"--listen", "127.0.0.1:" + std::to_string(port), "--meter", kTwo[0],
                               "--meter", kTwo[1], "--clock", kClock, "--echo", "--duration", "6"});
  });
  const int host_code = platform::RunProgram(
      Beside(HOST_EXE_FILE),
      {"--config", Path("q.xml"), "--output", Path("out.jsonl"), "--log", Path("out.log"),
       "--duration", "4", "tcp://127.0.0.1:" + std::to_string(port)});
  sim.join();
  EXPECT_EQ(host_code, kExitOk);
  EXPECT_EQ(sim_code, 0);
  records_ = ParseRecords(Slurp(Path("out.jsonl")));
  log_ = Slurp(Path("out.log"));
  // A round open at the end is delivered as far as it got: the last record.
  for (const std::string& meter : kTwo) {
    const auto last = std::find_if(records_.rbegin(), records_.rend(), [&](const Fields& r) {
      return r.count("DEVICE_ID") && r.at("DEVICE_ID") == meter;
    });
    if (last != records_.rend() && !last->count("PHASE_A_VOLTAGE"))
      records_.erase(std::next(last).base());
  }
  for (const std::string& meter : kTwo) {
    EXPECT_GE(Of(meter).size(), 2u) << meter << "\n" << log_;
    ExpectMetersValues(meter);
  }
}

}  // namespace

namespace {

std::vector<std::string> CsvCells(const std::string& line) {
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      cells.emplace_back();
    } else {
      cells.back().push_back(c);
    }
  }
  return cells;
}

// CSV as a table: one header with the configured functions' columns, every
// row under it with the meter's values in their columns.
TEST_F(Loopback, CsvIsOneTableWithTheConfiguredColumns) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--meter", kTwo[0], "--meter", kTwo[1]}));
  std::ofstream(Path("q.xml"), std::ios::binary) << Query("1;2", kItems);
  const int code = platform::RunProgram(
      Beside(HOST_EXE_FILE),
      {"--config", Path("q.xml"), "--format", "csv", "--output", Path("out.csv"), "--log",
       Path("out.log"), "--duration", "2.5", converter_});
  StopSimulator();
  EXPECT_EQ(code, kExitOk);
  std::istringstream lines(Slurp(Path("out.csv")));
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  const std::vector<std::string> header = CsvCells(line);
  const auto column = [&header](const std::string& name) {
    return static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  EXPECT_EQ(header.back(), "OTHER_FIELDS");
  EXPECT_EQ(column("VOLTAGE_A"), header.size()) << "a function not configured";
  std::vector<std::vector<std::string>> table;
  std::map<std::string, size_t> last_row;
  while (std::getline(lines, line)) {
    table.push_back(CsvCells(line));
    ASSERT_EQ(table.back().size(), header.size()) << line;
    last_row[table.back().at(column("DEVICE_ID"))] = table.size() - 1;
  }
  std::map<std::string, int> rows;
  for (size_t row = 0; row < table.size(); ++row) {
    const std::vector<std::string>& cells = table[row];
    const std::string meter = cells.at(column("DEVICE_ID"));
    ++rows[meter];
    for (const auto& [name, value] : Expected(meter)) {
      const size_t at = column(name);
      // The energy block has more values than the plug-in registers.
      // A round open at the end is delivered as far as it got.
      const bool open_round = row == last_row[meter];
      if (at == header.size()) {
        const bool there = cells.back().find(name + "=") != std::string::npos;
        EXPECT_TRUE(there || open_round) << name;
        continue;
      }
      if (cells[at].empty() && open_round) continue;
      EXPECT_DOUBLE_EQ(std::stod(cells[at]), value) << meter << " " << name;
    }
  }
  for (const std::string& meter : kTwo)
    EXPECT_GE(rows[meter], 2) << meter << "\n" << Slurp(Path("out.log"));
}

#ifdef SIGHUP
// logrotate renames the file and sends SIGHUP: the host lives on and goes on
// in a file of the old name, appending to whatever is there.
TEST_F(Loopback, SighupReopensTheOutputAndTheHostGoesOn) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--meter", kTwo[0]}));
  bool rotated = false;
  RunHost(Query("1", kItems),
          {"--settings", "x.ini", "--output", Path("records.jsonl"), converter_},
          [&](const auto& records) {
            if (!rotated && AtLeast(2, {kTwo[0]})(records)) {
              std::filesystem::rename(Path("records.jsonl"), Path("rotated.jsonl"));
              std::ofstream(Path("records.jsonl"), std::ios::binary) << "{\"EARLIER\":1}\n";
              rotated = true;
              std::raise(SIGHUP);
              return false;
            }
            return rotated && AtLeast(2, {kTwo[0]})(records);
          });
  StopSimulator();
  ASSERT_TRUE(rotated);
  // What came before the signal is in the renamed file, whole lines only.
  const std::vector<Fields> before = ParseRecords(Slurp(Path("rotated.jsonl")));
  EXPECT_GE(before.size(), 2u);
  ASSERT_GE(records_.size(), 3u) << log_;
  EXPECT_EQ(records_[0].count("EARLIER"), 1u);
  ExpectMetersValues(kTwo[0]);
  EXPECT_TRUE(LogHas("SIGHUP: output files reopened")) << log_;
}
#endif

#ifdef DLT645_HOST_STORE
// A value as both sides write it: numbers by their value, anything else as
// it is.
std::string Canonical(const std::string& text) {
  size_t used = 0;
  try {
    const double d = std::stod(text, &used);
    if (used == text.size()) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.12g", d);
      return buf;
    }
  } catch (const std::exception&) {
  }
  return text;
}

// A lasting run, shortened: 20 meters on one line with noise and frames in
// pieces, and a configured meter nobody answers. The store's rows are the
// records printed, value for value, and the silent meter's time-outs are
// rows of their own. Two rounds of every meter, about 15 s (the pieces
// cost some 100 ms an answer); a longer run only repeats them.
TEST_F(Loopback, TheStoreHoldsExactlyTheRecordsPrinted) {
  std::vector<std::string> meters;
  std::string devices;
  for (int i = 1; i <= 21; ++i) {
    meters.push_back(metersim::AddressText(Address(std::to_string(i))));
    devices += (i > 1 ? ";" : "") + std::to_string(i);
  }
  const std::string silent = meters.back();
  meters.pop_back();
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--meters", "1:20", "--noise", "0.005", "--split"}));
  RunHost(Query(devices, kItems, 150, 300),
          {"--settings", "x.ini", "--store", Path("r.db"), converter_},
          [&](const std::vector<Fields>& records) {
            size_t timeouts = 0;
            for (const Fields& r : records)
              timeouts += r.count("DEVICE_ID") && r.at("DEVICE_ID") == silent &&
                          r.count("QUALITY") && r.at("QUALITY") == "timeout";
            return timeouts >= 2 && AtLeast(2, meters)(records);
          });
  StopSimulator();
  for (const std::string& meter : meters) {
    EXPECT_GE(Of(meter).size(), 2u) << meter;
    ExpectMetersValues(meter, false);
  }
  ASSERT_GE(Of(silent, true).size(), 2u) << log_;
  EXPECT_TRUE(Of(silent).empty());

  // Meter, function, field, value, time and quality of each row.
  using Row = std::vector<std::string>;
  const auto function_of = [](const std::string& field, const Fields& r) -> std::string {
    for (const auto& [prefix, code] : {std::pair{"VOLTAGE", "0201FF00"},
                                       {"TOTAL_POSITIVE_ACTIVE", "0001FF00"},
                                       {"PHASE_A_VOLTAGE", "8000B611"}})
      if (field.rfind(prefix, 0) == 0) return code;
    return r.count("DATA_TYPE_ID_STR") ? r.at("DATA_TYPE_ID_STR") : "";
  };
  std::multiset<Row> printed;
  for (const Fields& r : records_) {
    std::string time = r.at("DATE_TIME_STAMP");
    if (time.size() == 19) time += ".000";
    const std::string quality = r.count("QUALITY") ? r.at("QUALITY") : "good";
    bool values = false;
    for (const auto& [name, value] : r) {
      if (IsRecordField(name)) continue;
      values = true;
      printed.insert(
          {r.at("DEVICE_ID"), function_of(name, r), name, Canonical(value), time, quality});
    }
    if (!values)
      printed.insert({r.at("DEVICE_ID"), function_of("REASON", r), "REASON",
                      Canonical(r.count("REASON") ? r.at("REASON") : ""), time, quality});
  }
  std::multiset<Row> stored;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Path("r.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(db, "SELECT meter, function, field, value, time, quality FROM reading", -1,
                         &st, nullptr),
      SQLITE_OK);
  while (sqlite3_step(st) == SQLITE_ROW) {
    Row row;
    for (int i = 0; i < 6; ++i) {
      const unsigned char* t = sqlite3_column_text(st, i);
      row.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
    }
    row[3] = Canonical(row[3]);
    row[4] = row[4].substr(0, 23);  // the zone goes with the time
    stored.insert(std::move(row));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  EXPECT_EQ(stored.size(), printed.size());
  // What differs, both ways, a few lines of each.
  std::vector<Row> missing, extra;
  std::set_difference(printed.begin(), printed.end(), stored.begin(), stored.end(),
                      std::back_inserter(missing));
  std::set_difference(stored.begin(), stored.end(), printed.begin(), printed.end(),
                      std::back_inserter(extra));
  const auto show = [](const std::vector<Row>& rows) {
    std::string out;
    for (size_t i = 0; i < rows.size() && i < 5; ++i) {
      for (const std::string& cell : rows[i])
        out += cell + "|";
      out += "\n";
    }
    return out;
  };
  EXPECT_TRUE(missing.empty()) << missing.size() << " printed, not stored:\n" << show(missing);
  EXPECT_TRUE(extra.empty()) << extra.size() << " stored, not printed:\n" << show(extra);
  size_t silent_rows = 0;
  for (const Row& row : stored)
    silent_rows += row[0] == silent && row[2] == "REASON" && row[5] == "timeout";
  EXPECT_EQ(silent_rows, Of(silent, true).size());
}

// A store file that is no database leaves the printed records as they were.
TEST_F(Loopback, ABadStoreStopsNothing) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--meter", kTwo[0], "--meter", kTwo[1]}));
  std::ofstream(Path("bad.db"), std::ios::binary) << std::string(4096, 'x');
  RunHost(Query("1;2", kItems), {"--settings", "x.ini", "--store", Path("bad.db"), converter_},
          AtLeast(2, kTwo));
  StopSimulator();
  for (const std::string& meter : kTwo)
    ExpectMetersValues(meter);
  EXPECT_TRUE(LogHas("bad.db: file is not a database; the store is not used")) << log_;
}
#endif

#ifdef SIGHUP
// SIGHUP reads the configuration again: what is polled changes while the
// DTUs stay connected; a configuration that does not parse changes nothing.
TEST_F(Loopback, SighupReloadsTheConfigurationAndKeepsTheDtus) {
  const uint16_t port = FreePort();
  const std::vector<std::string> meters = {"000000000011", "000000000012"};
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--meters", "11:2"}, port));
  // Two records of each meter since `from` that `fits`.
  const auto each_twice = [&](const std::vector<Fields>& records, size_t from,
                              const std::function<bool(const Fields&)>& fits) {
    for (const std::string& meter : meters) {
      int n = 0;
      for (size_t i = from; i < records.size(); ++i)
        n += records[i].count("DEVICE_ID") && records[i].at("DEVICE_ID") == meter &&
             fits(records[i]);
      if (n < 2) return false;
    }
    return true;
  };
  const auto old_items = [](const Fields& r) { return r.count("VOLTAGE1") == 1; };
  const auto new_items = [](const Fields& r) {
    return r.count("PHASE_A_VOLTAGE") == 1 && r.count("VOLTAGE1") == 0;
  };
  int phase = 0;
  size_t mark = 0;
  RunHost(Query("999999999999", Item("0201FF00"), 1000),
          {"--settings", "x.ini", "--module", "gprs", "--verbose",
           "listen://127.0.0.1:" + std::to_string(port)},
          [&](const std::vector<Fields>& records) {
            std::string error;
            if (phase == 0 && each_twice(records, 0, old_items)) {
              EXPECT_TRUE(WriteSettingsFile(Path("host.ini"), "dlt645-host",
                                            Query("999999999999", Item("8000B611"), 1000), &error));
            } else if (phase == 1 && each_twice(records, mark, new_items)) {
              EXPECT_TRUE(WriteSettingsFile(Path("host.ini"), "dlt645-host",
                                            "<DL_T645_2007_QUERY><Request>", &error));
            } else if (phase == 2 && each_twice(records, mark, new_items)) {
              return true;
            } else {
              return false;
            }
            ++phase;
            mark = records.size();
            std::raise(SIGHUP);
            return false;
          });
  StopSimulator();
  EXPECT_EQ(phase, 2) << log_;
  EXPECT_TRUE(LogHas("reload: " + Path("host.ini") + ": 1 requests")) << log_;
  EXPECT_TRUE(LogHas("the configuration running goes on")) << log_;
  // Each DTU connected once and never dropped.
  size_t connected = 0;
  for (size_t at = log_.find(" connected"); at != std::string::npos;
       at = log_.find(" connected", at + 1))
    ++connected;
  EXPECT_EQ(connected, meters.size()) << log_;
  EXPECT_FALSE(LogHas("closed by the peer")) << log_;
}
#endif

// The commissioning subcommands against the simulator: they exit 0 with
// what the meter answered, 1 in time when it stays silent, 2 on a function
// the tables lack.
TEST_F(Loopback, CommissioningSubcommandsReadFindAndSetTheMeter) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator({"--meter", kTwo[0], "--meter", "7", "--silent", "7"}));
  const std::string host = Beside(HOST_EXE_FILE);
  EXPECT_EQ(platform::RunProgram(
                host, {"read", "--meter", kTwo[0], "--function", "0201FF00,FREQUENCY", converter_}),
            kExitOk);
  EXPECT_EQ(watcher_.Count(SessionEvent::kAnswer, kTwo[0], 0x0201FF00), 1u);
  EXPECT_EQ(watcher_.Count(SessionEvent::kAnswer, kTwo[0], 0x02800002), 1u);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(platform::RunProgram(host, {"read", "--meter", "7", "--function", "02010100",
                                        "--timeout", "300", converter_}),
            kExitFailure);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(platform::RunProgram(
                host, {"read", "--meter", kTwo[0], "--function", "VOLTAGEA", converter_}),
            kExitUsage);

  const size_t answers = watcher_.Count(SessionEvent::kAnswer, kTwo[0]);
  EXPECT_EQ(platform::RunProgram(host, {"discover", converter_}), kExitOk);
  EXPECT_EQ(watcher_.Count(SessionEvent::kAnswer, kTwo[0]), answers + 1);

  // The simulator's clock stands at kClock until the broadcast moves it to
  // the host's time; the confirmation read shows it.
  EXPECT_EQ(platform::RunProgram(host, {"sync-time", "--meter", kTwo[0], converter_}), kExitOk);
  metersim::SimTime clock = 0;
  ASSERT_TRUE(metersim::ParseSimTime(kClock, &clock));
  EXPECT_GT(watcher_.LastTime(0x04000102), clock + 86400);
}

}  // namespace
