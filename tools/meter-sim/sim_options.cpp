#include "sim_options.h"

#include <cmath>
#include <cstdlib>
#include <set>

#include "base/str_to_int.h"

namespace metersim {
namespace {

constexpr int64_t kMaxMeters = 1'000'000;

bool IsDecimalAddress(const std::string& text) {
  if (text.empty() || text.size() > 12) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

bool ParseMeterAddress(const std::string& text, MeterAddress* out) {
  // Meters have BCD addresses; AA and 99..99 are reserved for wildcard and broadcast.
  if (!IsDecimalAddress(text) || !ParseAddress(text, out)) return false;
  return AddressText(*out) != "999999999999";
}

bool ParseInt(const std::string& text, int64_t lo, int64_t hi, int64_t* out) {
  return TryStrToInt64(text, out) && *out >= lo && *out <= hi;
}

bool ParseDouble(const std::string& text, double lo, double hi, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v) || v < lo || v > hi) return false;
  *out = v;
  return true;
}

uint64_t Packed(const MeterAddress& a) {
  uint64_t v = 0;
  for (uint8_t b : a)
    v = (v << 8) | b;
  return v;
}

}  // namespace

bool SplitHostPort(const std::string& text, std::string* host, uint16_t* port) {
  std::string h;
  std::string p;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return false;
    h = text.substr(1, close - 1);
    p = text.substr(close + 2);
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon) return false;
    h = text.substr(0, colon);
    p = text.substr(colon + 1);
  }
  int64_t n = 0;
  if (h.empty() || p.empty() || !IsDecimalAddress(p) || !ParseInt(p, 0, 65535, &n)) return false;
  *host = h;
  *port = static_cast<uint16_t>(n);
  return true;
}

const char* SimUsage() {
  return "Usage: dlt645-meter-sim MODE [options]\n"
         "Simulates DL/T 645-2007 and DL/T 645-1997 electricity meters.\n"
         "\n"
         "Modes (exactly one):\n"
         "  --listen HOST:PORT      serve the meters behind a TCP port, as a serial-to-Ethernet\n"
         "                          converter with an RS-485 bus (port 0: any free port);\n"
         "                          prints \"listening on HOST:PORT\"\n"
         "  --dtu HOST:PORT         connect out to a host's listen port as GPRS modems (DTUs),\n"
         "                          reconnecting with back-off when dropped\n"
         "  --pty                   serve the meters on a pseudo-terminal (Linux); prints its "
         "path\n"
         "\n"
         "Meters (default: one meter 000000000001):\n"
         "  --meter ADDRESS         a meter address of up to 12 decimal digits; repeatable\n"
         "  --meters START:COUNT    COUNT meters with consecutive addresses from START\n"
         "  --meters-per-dtu N      meters behind each DTU connection (default 1)\n"
         "\n"
         "Faults:\n"
         "  --echo                  send every received byte straight back (half-duplex echo)\n"
         "  --noise RATE            garbage bytes between and inside answers; RATE is the chance\n"
         "                          per byte sent (0..1)\n"
         "  --silent ADDRESS        that meter never answers; repeatable\n"
         "  --delay MS              wait MS milliseconds before every answer\n"
         "  --split                 send answers in random pieces of 1..6 bytes, 2..20 ms apart\n"
         "  --duplicate             send every answer twice\n"
         "  --drop-follow-up        never send the first follow-up frame of the first answer\n"
         "                          that needs follow-up frames (later answers are whole)\n"
         "  --unsolicited           send 0x9F frames now and then (and accept the 0x1F reply)\n"
         "  --unsolicited-every S   seconds between 0x9F frames (default 15; implies "
         "--unsolicited)\n"
         "\n"
         "Other:\n"
         "  --reconnect MIN:MAX     DTU reconnection back-off in milliseconds (default "
         "1000:30000)\n"
         "  --clock TIME            freeze the meters' clock at YYYY-MM-DDThh:mm:ss\n"
         "  --seed N                seed of the fault generator (default 1)\n"
         "  --duration S            stop after S seconds (default: run until interrupted)\n"
         "  -v, --verbose           log requests and answers on stderr\n"
         "  -h, --help              this text\n"
         "      --version           the version\n"
         "\n"
         "Answers every identifier of both function tables (rates 1..4 folded in); unknown\n"
         "identifiers get an error answer with \"No request data\", rates above 4 one with\n"
         "\"Exceed rate number\". Load profiles (DI 06cc00bb): a record every 15 minutes for\n"
         "30 days; answers longer than 200 bytes go on in follow-up frames (0x12).\n"
         "Exit codes: 0 done, 1 run-time failure, 2 bad options.\n";
}

bool ParseSimOptions(const std::vector<std::string>& args, SimConfig* config, std::string* error) {
  SimConfig c;
  std::vector<std::string> silent;
  std::set<uint64_t> seen;
  bool meters_given = false;
  const auto fail = [&](const std::string& message) {
    *error = message;
    return false;
  };
  const auto add_meter = [&](const MeterAddress& a) {
    if (!seen.insert(Packed(a)).second) return false;
    c.meters.push_back(a);
    return true;
  };
  const auto set_mode = [&](SimMode mode) {
    if (c.mode != SimMode::kNone) return fail("only one of --listen, --dtu and --pty may be given");
    c.mode = mode;
    return true;
  };

  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    if (name.rfind("--", 0) == 0) {
      const size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        has_value = true;
      }
    }
    const auto take = [&]() {
      if (has_value) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    const auto needs = [&]() { return fail("option " + name + " needs a value"); };
    int64_t n = 0;

    if (name == "-h" || name == "--help") {
      c.help = true;
    } else if (name == "--version") {
      c.version = true;
    } else if (name == "-v" || name == "--verbose") {
      c.verbose = true;
    } else if (name == "--listen" || name == "--dtu") {
      if (!take()) return needs();
      const SimMode mode = name == "--listen" ? SimMode::kListen : SimMode::kDtu;
      if (!set_mode(mode)) return false;
      if (!SplitHostPort(value, &c.host, &c.port) || (mode == SimMode::kDtu && c.port == 0))
        return fail("option " + name + ": '" + value + "' is not HOST:PORT");
    } else if (name == "--pty") {
      if (!set_mode(SimMode::kPty)) return false;
    } else if (name == "--meter") {
      if (!take()) return needs();
      MeterAddress a{};
      if (!ParseMeterAddress(value, &a))
        return fail("option --meter: '" + value +
                    "' is not a meter address (1..12 decimal digits)");
      if (!add_meter(a)) return fail("meter " + AddressText(a) + " is given twice");
      meters_given = true;
    } else if (name == "--meters") {
      if (!take()) return needs();
      const size_t colon = value.find(':');
      MeterAddress start{};
      if (colon == std::string::npos || !ParseMeterAddress(value.substr(0, colon), &start) ||
          !ParseInt(value.substr(colon + 1), 1, kMaxMeters, &n))
        return fail("option --meters: '" + value + "' is not START:COUNT (COUNT 1.." +
                    std::to_string(kMaxMeters) + ")");
      for (int64_t k = 0; k < n; ++k) {
        MeterAddress a{};
        if (!AddressAfter(start, static_cast<uint64_t>(k), &a) || AddressText(a) == "999999999999")
          return fail("option --meters: '" + value + "' runs past 999999999998");
        if (!add_meter(a)) return fail("meter " + AddressText(a) + " is given twice");
      }
      meters_given = true;
    } else if (name == "--meters-per-dtu") {
      if (!take()) return needs();
      if (!ParseInt(value, 1, 1000, &n))
        return fail("option --meters-per-dtu: '" + value + "' is not a number 1..1000");
      c.meters_per_dtu = static_cast<size_t>(n);
    } else if (name == "--echo") {
      c.faults.echo = true;
    } else if (name == "--split") {
      c.faults.split = true;
    } else if (name == "--duplicate") {
      c.faults.duplicate = true;
    } else if (name == "--drop-follow-up") {
      c.faults.drop_follow_up = true;
    } else if (name == "--noise") {
      if (!take()) return needs();
      if (!ParseDouble(value, 0, 1, &c.faults.noise))
        return fail("option --noise: '" + value + "' is not a rate between 0 and 1");
    } else if (name == "--silent") {
      if (!take()) return needs();
      silent.push_back(value);
    } else if (name == "--delay") {
      if (!take()) return needs();
      if (!ParseInt(value, 0, 600000, &n))
        return fail("option --delay: '" + value + "' is not a number of milliseconds (0..600000)");
      c.faults.delay_ms = static_cast<uint32_t>(n);
    } else if (name == "--unsolicited") {
      c.unsolicited = true;
    } else if (name == "--unsolicited-every") {
      if (!take()) return needs();
      if (!ParseInt(value, 1, 86400, &n))
        return fail("option --unsolicited-every: '" + value + "' is not a number of seconds");
      c.unsolicited = true;
      c.unsolicited_ms = static_cast<uint32_t>(n * 1000);
    } else if (name == "--reconnect") {
      if (!take()) return needs();
      const size_t colon = value.find(':');
      int64_t lo = 0, hi = 0;
      if (colon == std::string::npos || !ParseInt(value.substr(0, colon), 1, 3600000, &lo) ||
          !ParseInt(value.substr(colon + 1), 1, 3600000, &hi) || lo > hi)
        return fail("option --reconnect: '" + value + "' is not MIN:MAX milliseconds");
      c.reconnect_min_ms = static_cast<uint32_t>(lo);
      c.reconnect_max_ms = static_cast<uint32_t>(hi);
    } else if (name == "--clock") {
      if (!take()) return needs();
      if (!ParseSimTime(value, &c.clock))
        return fail("option --clock: '" + value + "' is not YYYY-MM-DDThh:mm:ss (2000..2099)");
      c.fixed_clock = true;
    } else if (name == "--seed") {
      if (!take()) return needs();
      if (!ParseInt(value, 0, INT64_MAX, &n))
        return fail("option --seed: '" + value + "' is not a number");
      c.seed = static_cast<uint64_t>(n);
    } else if (name == "--duration") {
      if (!take()) return needs();
      if (!ParseDouble(value, 0, 1e9, &c.duration_s) || c.duration_s <= 0)
        return fail("option --duration: '" + value + "' is not a number of seconds");
    } else {
      return fail("unknown option '" + args[i] + "'");
    }
    if (has_value &&
        (name == "--pty" || name == "--echo" || name == "--split" || name == "--duplicate" ||
         name == "--drop-follow-up" || name == "--unsolicited" || name == "--verbose" ||
         name == "--help" || name == "--version"))
      return fail("option " + name + " takes no value");
  }

  if (c.help || c.version) {
    *config = std::move(c);
    return true;
  }
  if (c.mode == SimMode::kNone) return fail("one of --listen, --dtu or --pty is needed");
  if (!meters_given) {
    MeterAddress first{};
    ParseAddress("000000000001", &first);
    add_meter(first);
  }
  for (const std::string& text : silent) {
    MeterAddress a{};
    if (!ParseMeterAddress(text, &a))
      return fail("option --silent: '" + text + "' is not a meter address");
    if (!seen.count(Packed(a)))
      return fail("option --silent: " + AddressText(a) + " is not one of the simulated meters");
    c.faults.silent.push_back(a);
  }
  if (c.mode != SimMode::kDtu && c.meters_per_dtu != 1)
    return fail("option --meters-per-dtu needs --dtu");
  *config = std::move(c);
  return true;
}

}  // namespace metersim
