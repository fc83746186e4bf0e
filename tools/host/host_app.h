#pragma once
// dlt645-host's run: the plug-in loaded and driven through its exports, the
// ports on one Asio loop in the same thread, records and log lines out.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <asio.hpp>

#include "host_metrics.h"
#include "host_mqtt.h"
#include "host_options.h"
#include "host_ports.h"
#include "host_records.h"
#include "host_store.h"
#include "hostkit/params_list.h"
#include "hostkit/plugin.h"

namespace host {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct HostStats {
  uint64_t records = 0;
  uint64_t blocks = 0;  // data blocks handed to ProcessData
  uint64_t bytes_in = 0;
  uint64_t bytes_out = 0;
  uint64_t writes_refused = 0;  // output for a client that is not open
  uint64_t connections = 0;     // accepted over the run
  uint64_t stored = 0;          // values committed to the store
  MqttCounters mqtt;
};

// A run whose requests are all asked once is over when each meter has
// handed every function's values or said it finally failed.
class OnceRun {
 public:
  // False (and nothing owed) when the run has other work: another method,
  // a listen-only request, a wildcard or broadcast device, a load profile.
  bool Plan(const ConfigCheck& check);
  // Counts a record; true when it was the last one owed.
  bool Count(const Record& record);
  bool Owed() const { return !owed_.empty(); }
  void Forget() { owed_.clear(); }

 private:
  struct Function {
    std::string code;    // as configured, as failures name it
    std::string folded;  // with the rate in it
    std::string field;   // its values' name
  };
  std::map<std::string, std::vector<Function>> owed_;  // by the 12-digit address
};

class Host final : public PortListener {
 public:
  // records and log are open streams the host writes to (not owned).
  Host(const HostOptions& options, std::FILE* records, std::FILE* log);
  ~Host() override;
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Loads the plug-in from `library` with the settings file (already
  // written), runs until the duration ends, Ctrl-C, or a port gives up;
  // the exit code.
  int Run(const std::string& library, const std::string& settings_file);

  // Asks the loop to end (any thread).
  void RequestStop() { stop_ = true; }
  const HostStats& Stats() const { return stats_; }
  // The address a listen port bound (port 0 chooses one), for tests.
  std::string LocalAddress(size_t port_index) const;

  // A subcommand's work: run in a thread of its own once the first port is
  // open (the loop goes on delivering data meanwhile); its answer is the
  // run's exit code and the run ends when it returns.
  std::function<int(PluginInstance&)> Job;
  bool JobRan() const { return job_ran_; }

  // The output function's work; called through the exported function.
  int32_t SendData(uint32_t data_source_no, uintptr_t client_id, uint32_t kind, const void* data,
                   uint32_t size);

  // PortListener
  void OnPortOpened(Port& port) override;
  void OnPortClosed(Port& port) override;
  void OnClientOpened(Port& port, uintptr_t client, const std::string& name) override;
  void OnClientClosed(Port& port, uintptr_t client, const std::string& name,
                      const std::string& why) override;
  void OnReceived(Port& port, uintptr_t client, const std::string& name, const uint8_t* data,
                  size_t size) override;
  void OnPortMessage(Port& port, int level, const std::string& text) override;
  void OnPortFailed(Port& port, const std::string& text) override;

  // A line on the log stream: level 0 error, 1 warning, 2 information;
  // kAlways whatever --log-level says.
  static constexpr int kAlways = 3;
  void Log(int level, const std::string& text, bool from_plugin = false);

 private:
  bool Start(const std::string& library, const std::string& settings_file);
  void FixCsvColumns(const std::vector<ConfiguredFunction>& functions);
  void OpenStore(const std::vector<ConfiguredFunction>& functions);
  void Loop();
  // SIGHUP: the output files opened again (renamed by log rotation), the
  // configuration read again.
  void OnHangUp();
  void ReloadConfiguration();
  void Shutdown();
  int Pump();
  void DrainLog();
  void SendPortEvent(const char* event, const Port& port);
  void SendHostEvents();
  void ArmStats();
  void Deliver(const PluginInstance::Block& block);
  void WriteRecords(const std::vector<Record>& records);
  void TickStore();
  void FlushStoreLog();
  void CloseStore();
  // The gateway's outputs: MQTT and the health exposition.
  void OpenGateway();
  void TickGateway();
  void CloseGateway();
  std::string MetricsText();
  Port* PortOf(uint32_t data_source_no);

  const HostOptions& options_;
  std::string settings_file_;
  std::FILE* records_out_;
  std::FILE* log_out_;
  std::mutex out_mutex_;
  RecordWriter writer_;
  std::unique_ptr<RecordStore> store_;  // under out_mutex_
  std::mutex store_log_mutex_;
  std::vector<std::pair<int, std::string>> store_log_;  // also the MQTT client's
  std::unique_ptr<MqttPublisher> mqtt_;                 // under out_mutex_
  HealthCounters health_;                               // under out_mutex_
  std::unique_ptr<MetricsServer> metrics_server_;
  std::chrono::steady_clock::time_point next_metrics_file_;

  asio::io_context io_;
  std::thread::id loop_thread_;
  std::atomic<bool> stop_{false};
  int exit_code_ = kExitOk;
  HostStats stats_;

  PluginLibrary library_;
  std::unique_ptr<PluginInstance> instance_;
  bool loaded_ = false;
  ListPtr block_params_ = MakeList();
  ListPtr answer_ = MakeList();

  PortSettings port_settings_;
  ClientIds client_ids_;
  std::vector<std::unique_ptr<Port>> ports_;
  asio::steady_timer event_timer_{io_};
  asio::steady_timer stats_timer_{io_};
  bool events_started_ = false;
  std::thread job_thread_;
  std::atomic<bool> job_ran_{false};
  std::atomic<int> job_code_{kExitOk};
  OnceRun once_;  // under out_mutex_
};

}  // namespace host
