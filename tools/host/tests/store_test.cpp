// The store on its own: rows, types, batches, retention, and stores that
// fail. The host's runs with it are in the loopback tests.
#include <gtest/gtest.h>

#include "host_store.h"

#ifdef DLT645_HOST_STORE
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "host_records.h"
#include "platform/datetime.h"

namespace {

using namespace host;

Field F(const char* name, Value v) {
  return Field{name, 0, std::move(v)};
}

// Days of the OLE calendar, local, `ago` before now.
double LocalDaysAgo(std::chrono::hours ago) {
  const auto t = std::chrono::system_clock::now() - ago;
  const int64_t ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  const int offset = ZoneOffsetMinutes(ms / 1000);
  // Whole seconds: the stamps of meters have no more.
  return 25569.0 + static_cast<double>((ms / 1000 + offset * 60) * 1000) / 86400000.0;
}

Record Reading(const std::string& meter, double days, double voltage) {
  return {F("FULL_DATA_PACKET", Value::Text("68")),
          F("DATE_TIME_STAMP", Value::Date(days)),
          F("DATA_SOURCE_NAME", Value::Text("listen://0.0.0.0:9100")),
          F("CLIENTID", Value::Int(7)),
          F("DEVICE_ID", Value::Text(meter)),
          F("DATA_TYPE_ID_STR", Value::Text("0201FF00")),
          F("DATA_TYPE_NAME", Value::Text("")),
          F("VOLTAGE1", Value::Double(voltage)),
          F("PHASE_A_VOLTAGE", Value::Int(221)),
          F("NOTE", Value::Text("x")),
          F("OK", Value::Bool(true))};
}

class Store : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("host-store-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    options_.path = (dir_ / "r.db").string();
  }
  void TearDown() override {
    if (reader_) sqlite3_close(reader_);
    if (!immutable_.empty()) {
      [[maybe_unused]] const int rc = std::system(("chattr -i '" + immutable_ + "'").c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::unique_ptr<RecordStore> Make() {
    return std::make_unique<RecordStore>(options_, [this](int level, const std::string& text) {
      log_ += text + "\n";
      (void)level;
    });
  }
  // A query's rows as "a|b|c" lines, through a connection of its own.
  std::string Query(const std::string& sql) {
    if (!reader_) {
      EXPECT_EQ(sqlite3_open(options_.path.c_str(), &reader_), SQLITE_OK);
    }
    std::string out;
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(reader_, sql.c_str(), -1, &st, nullptr), SQLITE_OK)
        << sqlite3_errmsg(reader_);
    while (st && sqlite3_step(st) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        if (i) out += '|';
        const unsigned char* t = sqlite3_column_text(st, i);
        out += t ? reinterpret_cast<const char*>(t) : "";
      }
      out += '\n';
    }
    sqlite3_finalize(st);
    return out;
  }
  // Makes the file read-only, for root too (which permissions do not stop).
  bool ReadOnly(const std::string& path) {
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    if (std::FILE* f = std::fopen(path.c_str(), "r+")) {
      std::fclose(f);
      if (std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()) != 0) return false;
      immutable_ = path;
    }
    return true;
  }
  std::filesystem::path dir_;
  std::string immutable_;
  StoreOptions options_;
  std::string log_;
  sqlite3* reader_ = nullptr;
};

TEST_F(Store, EveryValueIsARowWithItsTypeFunctionAndTime) {
  auto store = Make();
  ASSERT_TRUE(store->Open()) << log_;
  store->SetFunctions({{0x0201FF00, 0}, {0x8000B611, 0}});
  const double days = LocalDaysAgo(std::chrono::hours(0));
  store->Add(Reading("000000000001", days, 220.5));
  store->Commit();
  EXPECT_EQ(store->RowsStored(), 4u);
  EXPECT_EQ(Query("SELECT port, client, meter, function, function_name, field, value, type,"
                  " quality FROM reading ORDER BY id"),
            "listen://0.0.0.0:9100|7|000000000001|0201FF00|Voltage (all phases)|VOLTAGE1|220.5|"
            "real|good\n"
            "listen://0.0.0.0:9100|7|000000000001|8000B611|Voltage (phase A)|PHASE_A_VOLTAGE|221|"
            "integer|good\n"
            // Fields of no configured function keep the record's.
            "listen://0.0.0.0:9100|7|000000000001|0201FF00||NOTE|x|text|good\n"
            "listen://0.0.0.0:9100|7|000000000001|0201FF00||OK|1|boolean|good\n");
  // The text and the number of the time are one instant.
  const std::string same = Query(
      "SELECT count(*) FROM reading WHERE ts = CAST(round((julianday(time) - 2440587.5) * "
      "86400000) AS INTEGER) AND (time LIKE '____-__-__T__:__:__.___+__:__' OR time LIKE "
      "'____-__-__T__:__:__.___-__:__')");
  EXPECT_EQ(same, "4\n");
  EXPECT_EQ(Query("PRAGMA journal_mode"), "wal\n");

  // A record's quality goes with its values; a request that failed leaves
  // one row saying why.
  Record part = Reading("000000000002", days, 230);
  part.resize(8);
  part.push_back(F("QUALITY", Value::Text("incomplete")));
  store->Add(part);
  Record silent;
  for (const Field& f : Reading("000000000003", days, 0))
    if (IsRecordField(f.name)) silent.push_back(f);
  silent.push_back(F("QUALITY", Value::Text("timeout")));
  silent.push_back(F("REASON", Value::Text("no answer after 3 attempts")));
  store->Add(silent);
  store->Commit();
  EXPECT_EQ(Query("SELECT meter, field, value, quality FROM reading WHERE meter <> "
                  "'000000000001' ORDER BY id"),
            "000000000002|VOLTAGE1|230.0|incomplete\n"
            "000000000003|REASON|no answer after 3 attempts|timeout\n");

  // An interval record's rows carry the interval's time, not the reception's.
  Record interval = Reading("000000000004", days, 231);
  interval.push_back(F("RECORD_TIME", Value::Date(LocalDaysAgo(std::chrono::hours(2)))));
  store->Add(interval);
  store->Commit();
  int64_t received_ms = 0;
  std::string received;
  RecordStamp(Reading("000000000004", days, 231), &received_ms, &received);
  EXPECT_EQ(Query("SELECT DISTINCT " + std::to_string(received_ms) +
                  " - ts FROM reading WHERE meter = '000000000004'"),
            "7200000\n");
}

TEST_F(Store, TheTwoQueriesOfTheReadmeUseTheIndexes) {
  auto store = Make();
  ASSERT_TRUE(store->Open());
  const std::string last = Query(
      "EXPLAIN QUERY PLAN SELECT field, value, time FROM reading r WHERE meter = "
      "'000000000001' AND ts = (SELECT max(ts) FROM reading WHERE meter = r.meter AND "
      "field = r.field)");
  EXPECT_NE(last.find("reading_last"), std::string::npos) << last;
  const std::string range = Query(
      "EXPLAIN QUERY PLAN SELECT time, field, value FROM reading WHERE meter = "
      "'000000000001' AND ts BETWEEN 1 AND 2 ORDER BY ts");
  EXPECT_NE(range.find("reading_range"), std::string::npos) << range;
}

TEST_F(Store, RowsAreCommittedInBatchesByCountAndByTime) {
  options_.batch_records = 5;
  options_.batch_time = std::chrono::milliseconds(200);
  auto store = Make();
  ASSERT_TRUE(store->Open());
  const double days = LocalDaysAgo(std::chrono::hours(0));
  store->Add(Reading("000000000001", days, 1));  // 4 rows: below the batch
  store->Tick();
  EXPECT_EQ(Query("SELECT count(*) FROM reading"), "0\n");
  store->Add(Reading("000000000001", days, 2));
  EXPECT_EQ(Query("SELECT count(*) FROM reading"), "8\n");
  store->Add(Reading("000000000001", days, 3));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  store->Tick();
  EXPECT_EQ(Query("SELECT count(*) FROM reading"), "12\n");
}

TEST_F(Store, RowsPastTheRetentionGo) {
  {
    auto store = Make();
    ASSERT_TRUE(store->Open());
    store->Add(Reading("000000000001", LocalDaysAgo(std::chrono::hours(72)), 1));
    store->Add(Reading("000000000001", LocalDaysAgo(std::chrono::hours(30)), 2));
    store->Add(Reading("000000000001", LocalDaysAgo(std::chrono::hours(1)), 3));
  }
  options_.retention_days = 1;
  auto store = Make();
  ASSERT_TRUE(store->Open());
  EXPECT_EQ(Query("SELECT value FROM reading WHERE field = 'VOLTAGE1'"), "3.0\n");
}

TEST_F(Store, AStoreThatFailsSaysSoAndDropsOut) {
  // Not a database.
  std::ofstream(options_.path, std::ios::binary) << std::string(4096, 'x');
  EXPECT_FALSE(Make()->Open());
  EXPECT_NE(log_.find("not a database"), std::string::npos) << log_;
  // A database whose pages are damaged behind its intact first page: it
  // opens, and the first write says so.
  log_.clear();
  options_.path = (dir_ / "damaged.db").string();
  {
    auto store = Make();
    ASSERT_TRUE(store->Open()) << log_;
    for (int i = 0; i < 200; ++i)
      store->Add(Reading("000000000001", LocalDaysAgo(std::chrono::hours(0)), i));
  }
  {
    std::fstream f(options_.path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(4096);
    const std::string garbage(static_cast<size_t>(std::filesystem::file_size(options_.path)) - 4096,
                              '\x5a');
    f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  {
    auto store = Make();
    if (store->Open()) {
      store->Add(Reading("000000000001", LocalDaysAgo(std::chrono::hours(0)), 1));
      store->Commit();
      EXPECT_FALSE(store->Working());
      EXPECT_EQ(store->RowsStored(), 0u);
      EXPECT_EQ(store->RowsLost(), 4u);
    }
    EXPECT_NE(log_.find("malformed"), std::string::npos) << log_;
  }
  // A folder that is not there.
  log_.clear();
  options_.path = (dir_ / "none" / "r.db").string();
  EXPECT_FALSE(Make()->Open());
  EXPECT_NE(log_.find("cannot open"), std::string::npos) << log_;
  // A full disk: the store says so once and counts what it could not keep.
  log_.clear();
  options_.path = (dir_ / "full.db").string();
  options_.max_pages = 8;
  options_.batch_records = 1;
  auto store = Make();
  ASSERT_TRUE(store->Open()) << log_;
  const double days = LocalDaysAgo(std::chrono::hours(0));
  for (int i = 0; i < 400; ++i)
    store->Add(Reading("000000000001", days, i));
  EXPECT_FALSE(store->Working());
  EXPECT_GT(store->RowsLost(), 0u);
  EXPECT_GT(store->RowsStored(), 0u);
  EXPECT_EQ(store->RowsStored() + store->RowsLost(), 1600u);
  EXPECT_NE(log_.find("disk is full"), std::string::npos) << log_;
  EXPECT_EQ(log_.find("disk is full"), log_.rfind("disk is full")) << "said once\n" << log_;
}

TEST_F(Store, AFileItMayNotWriteSaysSo) {
  ASSERT_TRUE(Make()->Open());
  if (!ReadOnly(options_.path)) GTEST_SKIP() << "no way to make a file read-only here";
  EXPECT_FALSE(Make()->Open());
  EXPECT_NE(log_.find("the file is read-only"), std::string::npos) << log_;
}

}  // namespace

#else

TEST(Store, ThisBuildHasNone) {
  EXPECT_FALSE(host::StoreAvailable());
}

#endif
