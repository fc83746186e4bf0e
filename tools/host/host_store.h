#pragma once
// The embedded store: every value of every record as a row of an SQLite
// file (WAL, batched transactions, old rows dropped after a retention). A
// store that fails says so and drops out; the other outputs go on.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host_config.h"
#include "hostkit/params_list.h"

struct sqlite3;

namespace host {

// Unix milliseconds and the local ISO text with zone of a record's time
// stamp (DATE_TIME_STAMP, local), or of now when it has none.
void RecordStamp(const Record& record, int64_t* ms, std::string* text);

// Whether this build has the store (SQLite was found at build time).
bool StoreAvailable();

struct StoreOptions {
  std::string path;
  double retention_days = 0;  // 0: keep everything
  size_t batch_records = 1000;
  std::chrono::milliseconds batch_time{1000};
  // Most pages the file may grow to (0: no bound): a full disk, on demand.
  int64_t max_pages = 0;
};

class RecordStore {
 public:
  // `log(level, text)` with the levels of the host's log.
  using LogFn = std::function<void(int, const std::string&)>;
  RecordStore(StoreOptions options, LogFn log);
  ~RecordStore();  // commits what is pending
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // Opens or creates the file and its table; false (logged) when it cannot.
  bool Open();
  // Which function each value field belongs to: the configured ones.
  void SetFunctions(const std::vector<ConfiguredFunction>& functions);
  // One row per value of the record, in the open transaction.
  void Add(const Record& record);
  // Commits when the batch is due; drops rows past the retention.
  void Tick();
  void Commit();

  bool Working() const { return db_ != nullptr && !failed_; }
  uint64_t RowsStored() const { return stored_; }
  uint64_t RowsLost() const { return lost_; }

 private:
  struct Impl;
  bool Exec(const char* sql);
  void Fail(const std::string& what);
  void Prune();

  StoreOptions options_;
  LogFn log_;
  ::sqlite3* db_ = nullptr;
  std::unique_ptr<Impl> impl_;
  bool failed_ = false;  // the last write failed; said once until one works
  std::chrono::steady_clock::time_point retry_at_;
  size_t pending_ = 0;
  std::chrono::steady_clock::time_point batch_started_;
  std::chrono::steady_clock::time_point next_prune_;
  uint64_t stored_ = 0;
  uint64_t lost_ = 0;
  // Value field name: function code text and name.
  std::map<std::string, std::pair<std::string, std::string>> function_of_;
};

}  // namespace host
