#pragma once
// The command line of dlt645-host and the port specifications.
#include <cstdint>
#include <string>
#include <vector>

namespace host {

enum class PortKind { kTcpClient, kListen, kSerial };
enum class Parity { kNone, kEven, kOdd };

struct PortSpec {
  PortKind kind = PortKind::kTcpClient;
  std::string text;    // as written: the data source's name
  std::string host;    // tcp:// and listen://
  uint16_t port = 0;   // 0 with listen://: any free port
  std::string device;  // serial:
  uint32_t baud = 2400;
  Parity parity = Parity::kEven;
  uint8_t data_bits = 8;
  uint8_t stop_bits = 1;  // 1 or 2
};

enum class OutputFormat { kJson, kCsv, kText };
enum class Module { k2007, kGprs, k1997 };

struct HostOptions {
  std::vector<PortSpec> ports;
  std::string config;    // --config: query configuration (XML)
  std::string settings;  // --settings: INI file (written when --config is given)
  std::string section = "dlt645-host";
  std::string library;  // --library; empty: the one beside the program
  Module module = Module::k2007;
  OutputFormat format = OutputFormat::kJson;
  std::string output;               // --output FILE instead of stdout
  std::string log_file;             // --log FILE instead of stderr
  std::string store;                // --store FILE.db: SQLite
  double store_retention_days = 0;  // 0: keep everything
  int log_level = 2;                // plug-in log lines up to this level are shown
  double duration_s = 0;            // 0: until interrupted
  std::vector<std::string> events;
  double event_every_s = 0;       // 0: each event once, after the ports opened
  uint32_t connect_attempts = 0;  // network ports; 0: retry for ever
  double stats_every_s = 0;       // 0: no statistics lines
  bool verbose = false;
  bool help = false;
  bool version = false;
};

// Below these a host event or a statistics line would flood the plug-in or
// the log rather than tell anything.
constexpr double kMinEventEverySeconds = 1;
constexpr double kMinStatsSeconds = 1;

// False with a message naming the offending argument.
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error);
bool ParsePortSpec(const std::string& text, PortSpec* definition, std::string* error);
const char* HostUsage();

// The module names of the variants and the identifier the plug-in finds
// them by: CRC-32 (reflected 0xEDB88320, start 0xFFFFFFFF) without the final
// inversion.
const char* ModuleName(Module module);
uint32_t ConfigIdOf(const std::string& name);

}  // namespace host
