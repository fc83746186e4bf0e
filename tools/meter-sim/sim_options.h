#pragma once
// The command line of dlt645-meter-sim.
#include <cstdint>
#include <string>
#include <vector>

#include "meter_model.h"
#include "meter_session.h"

namespace metersim {

enum class SimMode { kNone, kListen, kDtu, kPty };

struct SimConfig {
  SimMode mode = SimMode::kNone;
  std::string host;   // --listen / --dtu
  uint16_t port = 0;  // 0 with --listen: any free port (printed)
  std::vector<MeterAddress> meters;
  size_t meters_per_dtu = 1;
  FaultOptions faults;
  bool unsolicited = false;
  uint32_t unsolicited_ms = 15000;
  uint32_t reconnect_min_ms = 1000;
  uint32_t reconnect_max_ms = 30000;
  bool fixed_clock = false;
  SimTime clock = 0;
  uint64_t seed = 1;
  double duration_s = 0;  // 0: until interrupted
  bool verbose = false;
  SessionObserver* observer = nullptr;  // not an option: for tests that watch the lines
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name. False with a message naming
// the offending option when they make no sense.
bool ParseSimOptions(const std::vector<std::string>& args, SimConfig* config, std::string* error);
// Splits HOST:PORT ([v6-address]:PORT too).
bool SplitHostPort(const std::string& text, std::string* host, uint16_t* port);
const char* SimUsage();

}  // namespace metersim
