#include "host_mqtt.h"

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "host_platform.h"
#include "host_records.h"
#include "host_store.h"

#ifdef DLT645_HOST_MQTT
#include <mosquitto.h>
#include <sqlite3.h>
#include <unistd.h>
#endif

namespace host {

namespace {

// A topic level: no wildcards and no level separators inside.
std::string Level(std::string text) {
  if (text.empty()) return "unknown";
  for (char& c : text)
    if (c == '/' || c == '+' || c == '#') c = '_';
  return text;
}

std::string JsonText(const std::string& text) {
  Record one(1);
  one[0].name = "x";
  one[0].value = Value::Text(text);
  const std::string line = RecordWriter::JsonLine(one);  // {"x":"..."}
  return line.substr(5, line.size() - 6);
}

}  // namespace

std::string MqttTopic(const std::string& prefix, const Record& record) {
  return prefix + "/" + Level(FieldTextOf(record, "DEVICE_ID")) + "/" +
         Level(FieldTextOf(record, "DATA_TYPE_ID_STR"));
}

std::string MqttPayload(const Record& record) {
  int64_t ms = 0;
  std::string time;
  RecordStamp(record, &ms, &time);
  std::string quality = FieldTextOf(record, "QUALITY");
  if (quality.empty()) quality = "good";
  Record values;
  for (const Field& f : record)
    if (!IsRecordField(f.name)) values.push_back(f);
  std::string out = "{\"time\":" + JsonText(time);
  out += ",\"meter\":" + JsonText(FieldTextOf(record, "DEVICE_ID"));
  out += ",\"function\":" + JsonText(FieldTextOf(record, "DATA_TYPE_ID_STR"));
  const std::string name = FieldTextOf(record, "DATA_TYPE_NAME");
  if (!name.empty()) out += ",\"name\":" + JsonText(name);
  out += ",\"port\":" + JsonText(FieldTextOf(record, "DATA_SOURCE_NAME"));
  if (FindField(record, "RECORD_TIME"))
    out += ",\"record_time\":" + JsonText(FieldTextOf(record, "RECORD_TIME"));
  out += ",\"quality\":" + JsonText(quality);
  if (FindField(record, "REASON")) out += ",\"reason\":" + JsonText(FieldTextOf(record, "REASON"));
  out += ",\"values\":" + RecordWriter::JsonLine(values) + "}";
  return out;
}

MqttSettings MqttSettingsOf(const HostOptions& options) {
  MqttSettings s;
  std::string error;
  ParseMqttUrl(options.mqtt, &s.url, &error);
  s.client_id = options.mqtt_client_id;
  if (s.client_id.empty()) {
    std::string name = "localhost";
#ifdef DLT645_HOST_MQTT
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) == 0 && buf[0]) name = buf;
#endif
    s.client_id = "dlt645-host-" + name;
  }
  s.user = options.mqtt_user;
  s.password = options.mqtt_password;
  if (s.password.empty())
    if (const char* env = std::getenv("DLT645_MQTT_PASSWORD")) s.password = env;
  s.ca_file = options.mqtt_ca;
  s.outbox = options.mqtt_outbox;
  s.outbox_bytes = options.mqtt_outbox_bytes;
  return s;
}

#ifdef DLT645_HOST_MQTT

// ---- the outbox -------------------------------------------------------------

struct Outbox::Impl {
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* after = nullptr;
  sqlite3_stmt* remove = nullptr;
};

namespace {

// What a message weighs in the outbox: its text and a row's upkeep.
uint64_t Weight(size_t topic, size_t payload) {
  return topic + payload + 16;
}

bool Exec(sqlite3* db, const std::string& sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  if (error) *error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

int64_t Scalar(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  int64_t v = 0;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    v = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return v;
}

}  // namespace

Outbox::Outbox(std::string path, uint64_t max_bytes)
    : path_(std::move(path)), max_bytes_(max_bytes), impl_(std::make_unique<Impl>()) {}

Outbox::~Outbox() {
  if (!impl_->db) return;
  Commit(nullptr);
  sqlite3_finalize(impl_->insert);
  sqlite3_finalize(impl_->after);
  sqlite3_finalize(impl_->remove);
  sqlite3_close(impl_->db);
}

bool Outbox::Open(std::string* error) {
  sqlite3*& db = impl_->db;
  if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    *error = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    db = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db, 2000);
  // The sequence numbers never go back, also when the outbox was empty.
  const bool ok =
      sqlite3_db_readonly(db, "main") != 1 &&
      Exec(db,
           "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
           "CREATE TABLE IF NOT EXISTS outbox(id INTEGER PRIMARY KEY AUTOINCREMENT,"
           " topic TEXT NOT NULL, payload TEXT NOT NULL);"
           "CREATE TABLE IF NOT EXISTS outbox_count(name TEXT PRIMARY KEY, n INTEGER NOT NULL);",
           error) &&
      sqlite3_prepare_v2(db, "INSERT INTO outbox(topic, payload) VALUES(?,?)", -1, &impl_->insert,
                         nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db,
                         "SELECT id, topic, payload FROM outbox WHERE id > ? ORDER BY id LIMIT ?",
                         -1, &impl_->after, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "DELETE FROM outbox WHERE id = ?", -1, &impl_->remove, nullptr) ==
          SQLITE_OK;
  if (!ok) {
    if (error->empty())
      *error = sqlite3_db_readonly(db, "main") == 1 ? "the file is read-only" : sqlite3_errmsg(db);
    sqlite3_finalize(impl_->insert);
    sqlite3_finalize(impl_->after);
    sqlite3_finalize(impl_->remove);
    impl_->insert = impl_->after = impl_->remove = nullptr;
    sqlite3_close(db);
    db = nullptr;
    return false;
  }
  waiting_ = static_cast<uint64_t>(Scalar(db, "SELECT count(*) FROM outbox"));
  bytes_ = static_cast<uint64_t>(Scalar(
      db,
      "SELECT coalesce(sum(length(CAST(topic AS BLOB)) + length(CAST(payload AS BLOB)) + 16), 0)"
      " FROM outbox"));
  dropped_ = static_cast<uint64_t>(
      Scalar(db, "SELECT coalesce((SELECT n FROM outbox_count WHERE name = 'dropped'), 0)"));
  return true;
}

bool Outbox::Append(const std::string& topic, const std::string& payload, std::string* error) {
  sqlite3* db = impl_->db;
  if (!db) return false;
  if (sqlite3_get_autocommit(db) && !Exec(db, "BEGIN", error)) return false;
  sqlite3_stmt* st = impl_->insert;
  sqlite3_reset(st);
  sqlite3_bind_text(st, 1, topic.data(), static_cast<int>(topic.size()), SQLITE_STATIC);
  sqlite3_bind_text(st, 2, payload.data(), static_cast<int>(payload.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  ++waiting_;
  bytes_ += Weight(topic.size(), payload.size());
  return true;
}

bool Outbox::Commit(std::string* error) {
  sqlite3* db = impl_->db;
  if (!db || sqlite3_get_autocommit(db)) return true;
  if (Exec(db, "COMMIT", error)) return true;
  // What the batch held is gone: count again from the file.
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  waiting_ = static_cast<uint64_t>(Scalar(db, "SELECT count(*) FROM outbox"));
  return false;
}

uint64_t Outbox::Trim(int64_t keep_through) {
  sqlite3* db = impl_->db;
  if (!db || bytes_ <= max_bytes_) return 0;
  Commit(nullptr);
  // Down to nine tenths, so that a full outbox is not trimmed per message.
  const uint64_t goal = max_bytes_ / 10 * 9;
  uint64_t dropped = 0;
  int64_t last = keep_through;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT id, length(CAST(topic AS BLOB)), length(CAST(payload AS BLOB))"
                     " FROM outbox WHERE id > ? ORDER BY id",
                     -1, &st, nullptr);
  sqlite3_bind_int64(st, 1, keep_through);
  uint64_t bytes = bytes_;
  while (bytes > goal && sqlite3_step(st) == SQLITE_ROW) {
    last = sqlite3_column_int64(st, 0);
    bytes -= std::min<uint64_t>(bytes, Weight(static_cast<size_t>(sqlite3_column_int64(st, 1)),
                                              static_cast<size_t>(sqlite3_column_int64(st, 2))));
    ++dropped;
  }
  sqlite3_finalize(st);
  if (dropped == 0) return 0;
  const std::string sql = "BEGIN; DELETE FROM outbox WHERE id > " + std::to_string(keep_through) +
                          " AND id <= " + std::to_string(last) +
                          "; INSERT INTO outbox_count(name, n) VALUES('dropped', " +
                          std::to_string(dropped_ + dropped) +
                          ") ON CONFLICT(name) DO UPDATE SET n = excluded.n; COMMIT;";
  if (!Exec(db, sql, nullptr)) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return 0;
  }
  bytes_ = bytes;
  waiting_ -= std::min(waiting_, dropped);
  dropped_ += dropped;
  return dropped;
}

std::vector<Outbox::Message> Outbox::After(int64_t after, size_t count) {
  std::vector<Message> out;
  if (!impl_->db || count == 0) return out;
  sqlite3_stmt* st = impl_->after;
  sqlite3_reset(st);
  sqlite3_bind_int64(st, 1, after);
  sqlite3_bind_int64(st, 2, static_cast<int64_t>(count));
  while (sqlite3_step(st) == SQLITE_ROW) {
    Message m;
    m.id = sqlite3_column_int64(st, 0);
    m.topic = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
    m.payload.assign(p, static_cast<size_t>(sqlite3_column_bytes(st, 2)));
    out.push_back(std::move(m));
  }
  sqlite3_reset(st);
  return out;
}

void Outbox::Remove(const std::vector<int64_t>& ids) {
  sqlite3* db = impl_->db;
  if (!db || ids.empty()) return;
  const bool own = sqlite3_get_autocommit(db) != 0;
  if (own) Exec(db, "BEGIN", nullptr);
  sqlite3_stmt* weigh = nullptr;
  sqlite3_prepare_v2(
      db,
      "SELECT length(CAST(topic AS BLOB)), length(CAST(payload AS BLOB)) FROM outbox WHERE id = ?",
      -1, &weigh, nullptr);
  for (int64_t id : ids) {
    sqlite3_reset(weigh);
    sqlite3_bind_int64(weigh, 1, id);
    if (sqlite3_step(weigh) != SQLITE_ROW) continue;
    const uint64_t w = Weight(static_cast<size_t>(sqlite3_column_int64(weigh, 0)),
                              static_cast<size_t>(sqlite3_column_int64(weigh, 1)));
    sqlite3_reset(impl_->remove);
    sqlite3_bind_int64(impl_->remove, 1, id);
    if (sqlite3_step(impl_->remove) == SQLITE_DONE) {
      bytes_ -= std::min(bytes_, w);
      waiting_ -= std::min<uint64_t>(waiting_, 1);
    }
  }
  sqlite3_reset(impl_->remove);
  sqlite3_finalize(weigh);
  if (own) Exec(db, "COMMIT", nullptr);
}

// ---- the publisher ----------------------------------------------------------

namespace {

constexpr int kQos = 1;

std::once_flag g_lib_once;

std::string StatusTopic(const MqttSettings& s) {
  return s.url.prefix + "/status/" + Level(s.client_id);
}

}  // namespace

bool MqttAvailable() {
  return true;
}

struct MqttPublisher::Impl {
  MqttSettings settings;
  LogFn log;
  Outbox outbox;
  mosquitto* client = nullptr;
  std::thread thread;  // the client's: connects, reads, writes, connects again
  std::condition_variable wake;
  bool closing = false;  // under mutex: no more connecting

  // Between the client's thread (its callbacks) and the host's.
  std::mutex mutex;
  bool connected = false;
  std::vector<int> acknowledged;                  // message ids (mid)
  std::vector<std::pair<int, std::string>> said;  // log lines from the callbacks
  std::string last_trouble;                       // said once until it changes

  // The host's thread only.
  std::map<int, int64_t> in_flight;  // mid -> outbox id
  int64_t handed_through = 0;        // every outbox id up to here went to the client
  uint64_t published = 0;
  uint64_t lost = 0;
  bool append_failed = false;

  Impl(MqttSettings s, LogFn l)
      : settings(std::move(s)), log(std::move(l)), outbox(settings.outbox, settings.outbox_bytes) {}

  void Say(int level, std::string text) {
    // The caller holds the mutex.
    said.emplace_back(level, std::move(text));
  }
  void Trouble(const std::string& text) {
    if (text == last_trouble) return;
    last_trouble = text;
    Say(1, "mqtt " + Where() + ": " + text + "; records wait in " + settings.outbox);
  }
  std::string Where() const { return settings.url.host + ":" + std::to_string(settings.url.port); }

  static void OnConnect(mosquitto* m, void* self, int rc) {
    auto* impl = static_cast<Impl*>(self);
    std::lock_guard<std::mutex> lock(impl->mutex);
    if (rc != 0) {
      impl->Trouble(std::string("the broker refused the connection: ") +
                    mosquitto_connack_string(rc));
      return;
    }
    impl->connected = true;
    impl->last_trouble.clear();
    impl->Say(2, "mqtt " + impl->Where() + ": connected as " + impl->settings.client_id);
    const std::string status = StatusTopic(impl->settings);
    mosquitto_publish(m, nullptr, status.c_str(), 6, "online", kQos, true);
  }
  static void OnDisconnect(mosquitto*, void* self, int rc) {
    auto* impl = static_cast<Impl*>(self);
    std::lock_guard<std::mutex> lock(impl->mutex);
    const bool was = impl->connected;
    impl->connected = false;
    if (rc != 0 && was) impl->Trouble("the connection was lost");
  }
  static void OnPublish(mosquitto*, void* self, int mid) {
    auto* impl = static_cast<Impl*>(self);
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->acknowledged.push_back(mid);
  }

  // The client's thread. The library's own loop does not try again when the
  // first connection fails, so the retries (1 s doubling up to the most)
  // are done here.
  void Run() {
    int delay_s = 1;
    bool first = true;
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (closing) return;
      }
      const int rc = first ? mosquitto_connect_async(client, settings.url.host.c_str(),
                                                     settings.url.port, settings.keepalive_s)
                           : mosquitto_reconnect_async(client);
      first = false;
      if (rc == MOSQ_ERR_SUCCESS) {
        for (;;) {
          if (mosquitto_loop(client, 100, 1) != MOSQ_ERR_SUCCESS) break;
          std::lock_guard<std::mutex> lock(mutex);
          if (connected) delay_s = 1;
          if (closing && !connected) break;
        }
      } else {
        std::lock_guard<std::mutex> lock(mutex);
        Trouble(rc == MOSQ_ERR_ERRNO ? std::string("cannot connect") : mosquitto_strerror(rc));
      }
      std::unique_lock<std::mutex> lock(mutex);
      connected = false;
      wake.wait_for(lock, std::chrono::seconds(delay_s), [this] { return closing; });
      delay_s = std::min(delay_s * 2, settings.reconnect_max_s);
    }
  }
};

MqttPublisher::MqttPublisher(MqttSettings settings, LogFn log)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(log))) {}

MqttPublisher::~MqttPublisher() {
  Close(std::chrono::milliseconds(0));
}

bool MqttPublisher::Open() {
  Impl& d = *impl_;
  const MqttSettings& s = d.settings;
  std::string error;
  if (!d.outbox.Open(&error)) {
    d.log(0, "mqtt: outbox " + s.outbox + ": " + error + "; nothing is published");
    return false;
  }
  std::call_once(g_lib_once, [] { mosquitto_lib_init(); });
  // A session of its own each time: what the broker has not acknowledged
  // is still in the outbox.
  d.client = mosquitto_new(s.client_id.c_str(), true, &d);
  if (!d.client) {
    d.log(0, "mqtt: cannot create the client");
    return false;
  }
  mosquitto_connect_callback_set(d.client, &Impl::OnConnect);
  mosquitto_disconnect_callback_set(d.client, &Impl::OnDisconnect);
  mosquitto_publish_callback_set(d.client, &Impl::OnPublish);
  mosquitto_threaded_set(d.client, true);
  mosquitto_max_inflight_messages_set(d.client, static_cast<unsigned>(s.window));
  const std::string status = StatusTopic(s);
  int rc = mosquitto_will_set(d.client, status.c_str(), 7, "offline", kQos, true);
  if (rc == MOSQ_ERR_SUCCESS && !s.user.empty())
    rc = mosquitto_username_pw_set(d.client, s.user.c_str(),
                                   s.password.empty() ? nullptr : s.password.c_str());
  if (rc == MOSQ_ERR_SUCCESS && s.url.tls)
    rc = mosquitto_tls_set(d.client, s.ca_file.empty() ? nullptr : s.ca_file.c_str(),
                           s.ca_file.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                           nullptr);
  if (rc != MOSQ_ERR_SUCCESS) {
    d.log(0, std::string("mqtt: ") + mosquitto_strerror(rc));
    mosquitto_destroy(d.client);
    d.client = nullptr;
    return false;
  }
  d.thread = std::thread([&d] { d.Run(); });
  if (d.outbox.Waiting() > 0)
    d.log(2, "mqtt: " + std::to_string(d.outbox.Waiting()) + " records wait in " + s.outbox);
  return true;
}

void MqttPublisher::Add(const Record& record) {
  Impl& d = *impl_;
  if (!d.client) return;
  std::string error;
  if (d.outbox.Append(MqttTopic(d.settings.url.prefix, record), MqttPayload(record), &error)) {
    d.append_failed = false;
    return;
  }
  ++d.lost;
  if (!d.append_failed)
    d.log(0, "mqtt: outbox " + d.settings.outbox + ": " + error + "; records are lost");
  d.append_failed = true;
}

void MqttPublisher::Tick() {
  Impl& d = *impl_;
  if (!d.client) return;
  std::string error;
  if (!d.outbox.Commit(&error)) d.log(0, "mqtt: outbox " + d.settings.outbox + ": " + error);
  std::vector<int> acked;
  std::vector<std::pair<int, std::string>> said;
  bool connected = false;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    acked.swap(d.acknowledged);
    said.swap(d.said);
    connected = d.connected;
  }
  for (const auto& [level, text] : said)
    d.log(level, text);
  std::vector<int64_t> done;
  for (int mid : acked) {
    const auto it = d.in_flight.find(mid);
    if (it == d.in_flight.end()) continue;  // the status
    done.push_back(it->second);
    d.in_flight.erase(it);
  }
  d.outbox.Remove(done);
  d.published += done.size();
  const uint64_t dropped = d.outbox.Trim(d.handed_through);
  if (dropped > 0)
    d.log(1, "mqtt: the outbox is full (" + std::to_string(d.settings.outbox_bytes) +
                 " bytes): the " + std::to_string(dropped) + " oldest records dropped, " +
                 std::to_string(d.outbox.Dropped()) + " in all");
  // Only while connected: what waits stays on disk, not in the client.
  if (!connected) return;
  const size_t room =
      d.settings.window > d.in_flight.size() ? d.settings.window - d.in_flight.size() : 0;
  for (Outbox::Message& m : d.outbox.After(d.handed_through, room)) {
    // The sequence number lets a subscriber see a message sent twice.
    std::string payload = "{\"seq\":" + std::to_string(m.id) + "," + m.payload.substr(1);
    int mid = 0;
    // An acknowledgement that comes before the id is noted waits for Tick.
    const int rc = mosquitto_publish(d.client, &mid, m.topic.c_str(),
                                     static_cast<int>(payload.size()), payload.data(), kQos, false);
    if (rc != MOSQ_ERR_SUCCESS) {
      if (rc != MOSQ_ERR_NO_CONN) {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.Trouble(std::string("publish: ") + mosquitto_strerror(rc));
      }
      break;
    }
    d.in_flight[mid] = m.id;
    d.handed_through = m.id;
  }
}

void MqttPublisher::Close(std::chrono::milliseconds grace) {
  Impl& d = *impl_;
  if (!d.client) return;
  const auto until = std::chrono::steady_clock::now() + grace;
  Tick();
  while (!d.in_flight.empty() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Tick();
  }
  bool connected = false;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    connected = d.connected;
  }
  if (connected) {
    // "offline" is said by us on a clean end, by the broker (the will) on
    // any other.
    int mid = 0;
    const std::string status = StatusTopic(d.settings);
    mosquitto_publish(d.client, &mid, status.c_str(), 7, "offline", kQos, true);
    const auto wait = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    bool acked = false;
    while (!acked && std::chrono::steady_clock::now() < wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::lock_guard<std::mutex> lock(d.mutex);
      for (int m : d.acknowledged)
        acked = acked || m == mid;
    }
    mosquitto_disconnect(d.client);
  }
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.closing = true;
  }
  d.wake.notify_all();
  if (d.thread.joinable()) d.thread.join();
  mosquitto_destroy(d.client);
  d.client = nullptr;
  std::string error;
  d.outbox.Commit(&error);
  if (!d.in_flight.empty())
    d.log(1, "mqtt: " + std::to_string(d.in_flight.size()) +
                 " records not acknowledged yet stay in the outbox and go out again");
  d.in_flight.clear();
  if (d.lost > 0)
    d.log(1, "mqtt: " + std::to_string(d.lost) + " records the outbox could not keep");
}

MqttCounters MqttPublisher::Counters() const {
  const Impl& d = *impl_;
  MqttCounters c;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    c.connected = d.connected;
  }
  c.published = d.published;
  c.waiting = d.outbox.Waiting();
  c.dropped = d.outbox.Dropped();
  c.lost = d.lost;
  return c;
}

#else  // no MQTT client in this build

struct Outbox::Impl {};
Outbox::Outbox(std::string path, uint64_t max_bytes)
    : path_(std::move(path)), max_bytes_(max_bytes) {}
Outbox::~Outbox() = default;
bool Outbox::Open(std::string* error) {
  *error = "this build has no outbox";
  return false;
}
bool Outbox::Append(const std::string&, const std::string&, std::string*) {
  return false;
}
bool Outbox::Commit(std::string*) {
  return false;
}
uint64_t Outbox::Trim(int64_t) {
  return 0;
}
std::vector<Outbox::Message> Outbox::After(int64_t, size_t) {
  return {};
}
void Outbox::Remove(const std::vector<int64_t>&) {}

bool MqttAvailable() {
  return false;
}

struct MqttPublisher::Impl {
  LogFn log;
};
MqttPublisher::MqttPublisher(MqttSettings, LogFn log) : impl_(std::make_unique<Impl>()) {
  impl_->log = std::move(log);
}
MqttPublisher::~MqttPublisher() = default;
bool MqttPublisher::Open() {
  impl_->log(0, "mqtt: this build has no MQTT client (Linux with libmosquitto only)");
  return false;
}
void MqttPublisher::Add(const Record&) {}
void MqttPublisher::Tick() {}
void MqttPublisher::Close(std::chrono::milliseconds) {}
MqttCounters MqttPublisher::Counters() const {
  return {};
}

#endif

}  // namespace host
