#pragma once
// Records to an MQTT broker with store-and-forward: each record goes first
// into an outbox (an SQLite file of its own), and leaves it only when the
// broker acknowledged it (QoS 1). While the broker is away records wait on
// disk, in order, across restarts of the host; a full outbox drops its
// oldest and counts them. Built where libmosquitto and SQLite are (Linux).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host_options.h"
#include "hostkit/params_list.h"

namespace host {

// Whether this build has the MQTT client.
bool MqttAvailable();

// The topic of a record, PREFIX/METER/FUNCTION, and its message: time with
// zone, meter, function, quality (and why), the values by name.
std::string MqttTopic(const std::string& prefix, const Record& record);
std::string MqttPayload(const Record& record);

// The waiting messages, oldest first; bounded in bytes.
class Outbox {
 public:
  struct Message {
    int64_t id = 0;  // grows for ever: the message's sequence number
    std::string topic;
    std::string payload;
  };
  Outbox(std::string path, uint64_t max_bytes);
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  bool Open(std::string* error);
  // Into the open batch; false when the file refuses (the message is lost).
  bool Append(const std::string& topic, const std::string& payload, std::string* error);
  bool Commit(std::string* error);
  // Drops the oldest messages after `keep_through` (those handed out stay)
  // until the outbox fits; how many went.
  uint64_t Trim(int64_t keep_through);
  // Up to `count` messages after `after`, in order.
  std::vector<Message> After(int64_t after, size_t count);
  void Remove(const std::vector<int64_t>& ids);

  uint64_t Waiting() const { return waiting_; }
  uint64_t Bytes() const { return bytes_; }
  // Over the outbox's life, across runs.
  uint64_t Dropped() const { return dropped_; }

 private:
  struct Impl;
  std::string path_;
  uint64_t max_bytes_;
  std::unique_ptr<Impl> impl_;
  uint64_t waiting_ = 0;
  uint64_t bytes_ = 0;
  uint64_t dropped_ = 0;
};

struct MqttSettings {
  MqttUrl url;
  std::string client_id;
  std::string user;
  std::string password;
  std::string ca_file;
  std::string outbox;
  uint64_t outbox_bytes = uint64_t{64} << 20;
  int keepalive_s = 30;
  size_t window = 1000;  // messages handed to the client, not yet acknowledged
  int reconnect_max_s = 10;
};
MqttSettings MqttSettingsOf(const HostOptions& options);

struct MqttCounters {
  bool connected = false;
  uint64_t published = 0;  // acknowledged by the broker
  uint64_t waiting = 0;    // in the outbox
  uint64_t dropped = 0;    // the outbox was full
  uint64_t lost = 0;       // the outbox file refused them
};

class MqttPublisher {
 public:
  // `log(level, text)` with the host log's levels; called from Tick only.
  using LogFn = std::function<void(int, const std::string&)>;
  MqttPublisher(MqttSettings settings, LogFn log);
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  // Opens the outbox and starts connecting; false (logged) when it cannot.
  bool Open();
  void Add(const Record& record);
  // Commits, trims, hands what waits to the broker, forgets what it has.
  void Tick();
  // Waits up to `grace` for the acknowledgements, says "offline", leaves.
  void Close(std::chrono::milliseconds grace);
  MqttCounters Counters() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace host
