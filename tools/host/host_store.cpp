#include "host_store.h"

#include <cstdio>

#include "dlt645/func_types.h"
#include "host_records.h"
#include "platform/datetime.h"

#ifdef DLT645_HOST_STORE
#include <sqlite3.h>
#endif

namespace host {

// Unix milliseconds and the local ISO text with zone of a record's stamp
// (local days), or of now. An interval record is stamped with its interval.
void RecordStamp(const Record& record, int64_t* ms, std::string* text) {
  const Field* f = FindField(record, "RECORD_TIME");
  if (!f || f->value.get().vt != platform::VT_DATE) f = FindField(record, "DATE_TIME_STAMP");
  if (!f || f->value.get().vt != platform::VT_DATE) {
    *text = IsoNowWithZone();
    *ms = std::chrono::duration_cast<std::chrono::milliseconds>(
              std::chrono::system_clock::now().time_since_epoch())
              .count();
    return;
  }
  const double days = f->value.get().date;
  const int64_t local_ms = platform::DateTimeToMs(days) - int64_t{25569} * 86400 * 1000;
  const int offset = ZoneOffsetMinutes(local_ms / 1000);
  *ms = local_ms - int64_t{offset} * 60000;
  std::string iso = IsoDateTime(days);
  if (iso.size() == 19) iso += ".000";
  *text = iso + ZoneText(offset);
}

#ifdef DLT645_HOST_STORE

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reading("
    " id INTEGER PRIMARY KEY,"
    " ts INTEGER NOT NULL,"  // Unix time in milliseconds
    " time TEXT NOT NULL,"   // local, ISO with the zone
    " port TEXT, client INTEGER, meter TEXT,"
    " function TEXT, function_name TEXT,"
    " field TEXT NOT NULL, value, type TEXT NOT NULL,"
    " quality TEXT NOT NULL DEFAULT 'good');"
    "CREATE INDEX IF NOT EXISTS reading_last ON reading(meter, field, ts);"
    "CREATE INDEX IF NOT EXISTS reading_range ON reading(meter, ts);";

constexpr const char* kInsert =
    "INSERT INTO reading(ts, time, port, client, meter, function, function_name, field, value,"
    " type, quality) VALUES(?,?,?,?,?,?,?,?,?,?,?)";

constexpr auto kRetryAfter = std::chrono::seconds(5);
constexpr auto kPruneEvery = std::chrono::minutes(10);

}  // namespace

struct RecordStore::Impl {
  sqlite3_stmt* insert = nullptr;
};

bool StoreAvailable() {
  return true;
}

RecordStore::RecordStore(StoreOptions options, LogFn log)
    : options_(std::move(options)), log_(std::move(log)), impl_(std::make_unique<Impl>()) {}

RecordStore::~RecordStore() {
  if (!db_) return;
  Commit();
  sqlite3_finalize(impl_->insert);
  sqlite3_close(db_);
}

bool RecordStore::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  const std::string text = message ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  Fail(text);
  return false;
}

void RecordStore::Fail(const std::string& what) {
  if (pending_ > 0) {
    lost_ += pending_;
    pending_ = 0;
  }
  if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  retry_at_ = std::chrono::steady_clock::now() + kRetryAfter;
  if (failed_) return;
  failed_ = true;
  log_(0, "store " + options_.path + ": " + what +
              "; records go on to the other outputs, the store tries again every 5 s");
}

bool RecordStore::Open() {
  if (sqlite3_open_v2(options_.path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    log_(0, "store " + options_.path +
                ": cannot open: " + (db_ ? sqlite3_errmsg(db_) : "out of memory") +
                "; records go on to the other outputs");
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  std::string setup = "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;";
  if (options_.max_pages > 0)
    setup += "PRAGMA max_page_count=" + std::to_string(options_.max_pages) + ";";
  setup += kSchema;
  std::string why;
  if (sqlite3_db_readonly(db_, "main") == 1) {
    why = "the file is read-only";
  } else if (sqlite3_exec(db_, setup.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
             sqlite3_prepare_v2(db_, kInsert, -1, &impl_->insert, nullptr) != SQLITE_OK) {
    why = sqlite3_errmsg(db_);
  }
  if (!why.empty()) {
    log_(0, "store " + options_.path + ": " + why +
                "; the store is not used, records go on to the other outputs");
    sqlite3_finalize(impl_->insert);
    impl_->insert = nullptr;
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  next_prune_ = std::chrono::steady_clock::now();
  Prune();
  return db_ != nullptr;
}

void RecordStore::SetFunctions(const std::vector<ConfiguredFunction>& functions) {
  function_of_.clear();
  for (const ConfiguredFunction& f : functions) {
    const bool is1997 = (f.code & kFuncCode1997) != 0;
    const TRequestFuncType* row = FindFuncType(f.code & ~kFuncCode1997, is1997);
    if (!row) continue;
    char code[16];
    std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(f.code));
    const std::pair<std::string, std::string> what{code, RatedFuncName(*row, f.rate)};
    const std::string field(row->FieldName);
    if (row->ValueCount > 1) {
      for (int k = 1; k <= row->ValueCount; ++k)
        function_of_.emplace(field + std::to_string(k), what);
    } else {
      function_of_.emplace(f.rate ? field + std::to_string(f.rate) : field, what);
    }
  }
}

void RecordStore::Add(const Record& record) {
  if (!db_) return;
  std::string quality = FieldTextOf(record, "QUALITY");
  if (quality.empty()) quality = "good";
  size_t values = 0;
  for (const Field& f : record)
    values += IsRecordField(f.name) ? 0 : 1;
  // A request that failed leaves a row of its own: which meter and
  // function, the quality and why, in the field REASON.
  Record failed;
  if (values == 0) {
    if (quality == "good") return;
    Field reason;
    reason.name = "REASON";
    reason.value = Value::Text(FieldTextOf(record, "REASON"));
    failed.push_back(std::move(reason));
    values = 1;
  }
  const auto now = std::chrono::steady_clock::now();
  if (failed_ && now < retry_at_) {
    lost_ += values;
    return;
  }
  if (sqlite3_get_autocommit(db_)) {
    if (!Exec("BEGIN")) {
      lost_ += values;
      return;
    }
    batch_started_ = now;
  }
  int64_t ms = 0;
  std::string time;
  RecordStamp(record, &ms, &time);
  const std::string port = FieldTextOf(record, "DATA_SOURCE_NAME");
  const Field* client = FindField(record, "CLIENTID");
  const std::string meter = FieldTextOf(record, "DEVICE_ID");
  const std::string function = FieldTextOf(record, "DATA_TYPE_ID_STR");
  const std::string function_name = FieldTextOf(record, "DATA_TYPE_NAME");
  sqlite3_stmt* st = impl_->insert;
  size_t added = 0;
  for (const Field& f : failed.empty() ? record : failed) {
    if (failed.empty() && IsRecordField(f.name)) continue;
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    sqlite3_bind_int64(st, 1, ms);
    sqlite3_bind_text(st, 2, time.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, port.c_str(), -1, SQLITE_TRANSIENT);
    if (client) sqlite3_bind_int64(st, 4, client->value.AsInt());
    sqlite3_bind_text(st, 5, meter.c_str(), -1, SQLITE_TRANSIENT);
    const auto of = function_of_.find(f.name);
    const std::string& code = of != function_of_.end() ? of->second.first : function;
    const std::string& name = of != function_of_.end() ? of->second.second : function_name;
    sqlite3_bind_text(st, 6, code.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 7, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 8, f.name.c_str(), -1, SQLITE_TRANSIENT);
    const VARIANT& v = f.value.get();
    const char* type = "text";
    switch (v.vt) {
      case platform::VT_EMPTY:
      case platform::VT_NULL:
        type = "null";
        break;
      case platform::VT_I1:
      case platform::VT_I2:
      case platform::VT_I4:
      case platform::VT_INT:
      case platform::VT_I8:
      case platform::VT_UI1:
      case platform::VT_UI2:
      case platform::VT_UI4:
      case platform::VT_UINT:
      case platform::VT_UI8:
        type = "integer";
        sqlite3_bind_int64(st, 9, f.value.AsInt());
        break;
      case platform::VT_R4:
      case platform::VT_R8:
      case platform::VT_CY:
        type = "real";
        sqlite3_bind_double(st, 9, f.value.AsDouble());
        break;
      case platform::VT_BOOL:
        type = "boolean";
        sqlite3_bind_int(st, 9, v.boolVal ? 1 : 0);
        break;
      case platform::VT_DATE:
        type = "datetime";
        [[fallthrough]];
      default: {
        const std::string text = FieldText(f);
        sqlite3_bind_text(st, 9, text.c_str(), -1, SQLITE_TRANSIENT);
      }
    }
    sqlite3_bind_text(st, 10, type, -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 11, quality.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) != SQLITE_DONE) {
      const std::string error = sqlite3_errmsg(db_);
      sqlite3_reset(st);
      // The batch goes back, and the rest of the record with it.
      pending_ += values - added;
      Fail(error);
      return;
    }
    ++pending_;
    ++added;
  }
  if (pending_ >= options_.batch_records) Commit();
}

void RecordStore::Commit() {
  if (!db_ || sqlite3_get_autocommit(db_)) return;
  const size_t rows = pending_;
  if (!Exec("COMMIT")) return;
  stored_ += rows;
  pending_ = 0;
  if (failed_) {
    failed_ = false;
    log_(1, "store " + options_.path + " writes again (" + std::to_string(lost_) +
                " values not stored so far)");
  }
}

void RecordStore::Tick() {
  if (!db_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!sqlite3_get_autocommit(db_) && now - batch_started_ >= options_.batch_time) Commit();
  if (now >= next_prune_) Prune();
}

void RecordStore::Prune() {
  next_prune_ = std::chrono::steady_clock::now() + kPruneEvery;
  if (options_.retention_days <= 0 || failed_) return;
  Commit();
  const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  const int64_t cutoff = now_ms - static_cast<int64_t>(options_.retention_days * 86400000.0);
  // Rows come in time order: what is older than the cutoff is a prefix of
  // the ids, found without an index of its own.
  const std::string sql =
      "DELETE FROM reading WHERE id < coalesce((SELECT id FROM reading WHERE ts >= " +
      std::to_string(cutoff) + " ORDER BY id LIMIT 1), (SELECT max(id) + 1 FROM reading));";
  Exec(sql.c_str());
}

#else  // no SQLite in this build

struct RecordStore::Impl {};

bool StoreAvailable() {
  return false;
}

RecordStore::RecordStore(StoreOptions options, LogFn log)
    : options_(std::move(options)), log_(std::move(log)) {}
RecordStore::~RecordStore() = default;
bool RecordStore::Open() {
  log_(0, "store " + options_.path + ": this build has no store (SQLite)");
  return false;
}
void RecordStore::SetFunctions(const std::vector<ConfiguredFunction>&) {}
void RecordStore::Add(const Record&) {}
void RecordStore::Tick() {}
void RecordStore::Commit() {}
bool RecordStore::Exec(const char*) {
  return false;
}
void RecordStore::Fail(const std::string&) {}
void RecordStore::Prune() {}

#endif

}  // namespace host
