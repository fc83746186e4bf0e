#include "host_options.h"

#include <array>
#include <cerrno>
#include <cstdlib>

namespace host {

namespace {

bool ParseUint(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 19) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  const uint64_t v = std::strtoull(text.c_str(), nullptr, 10);
  if (v > max) return false;
  *out = v;
  return true;
}

bool ParseSeconds(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || !end || *end != '\0' || !(v > 0) || v > 1e9) return false;
  *out = v;
  return true;
}

bool SplitHostPort(const std::string& text, std::string* host, uint16_t* port) {
  std::string h;
  std::string p;
  if (!text.empty() && text[0] == '[') {
    const auto close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return false;
    h = text.substr(1, close - 1);
    p = text.substr(close + 2);
  } else {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    h = text.substr(0, colon);
    p = text.substr(colon + 1);
  }
  uint64_t n = 0;
  if (h.empty() || !ParseUint(p, 65535, &n)) return false;
  *host = h;
  *port = static_cast<uint16_t>(n);
  return true;
}

bool ParseSerialOptions(const std::string& query, PortSpec* definition, std::string* error) {
  size_t pos = 0;
  while (pos <= query.size()) {
    const size_t amp = query.find('&', pos);
    const std::string pair = query.substr(pos, amp == std::string::npos ? amp : amp - pos);
    pos = amp == std::string::npos ? query.size() + 1 : amp + 1;
    if (pair.empty()) continue;
    const size_t eq = pair.find('=');
    const std::string key = pair.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : pair.substr(eq + 1);
    uint64_t n = 0;
    if (key == "baud") {
      if (!ParseUint(value, 4000000, &n) || n < 50) {
        *error = "baud rate '" + value + "' is not a number from 50 to 4000000";
        return false;
      }
      definition->baud = static_cast<uint32_t>(n);
    } else if (key == "parity") {
      if (value == "even" || value == "e") {
        definition->parity = Parity::kEven;
      } else if (value == "odd" || value == "o") {
        definition->parity = Parity::kOdd;
      } else if (value == "none" || value == "n") {
        definition->parity = Parity::kNone;
      } else {
        *error = "parity '" + value + "' is not even, odd or none";
        return false;
      }
    } else if (key == "data") {
      if (!ParseUint(value, 8, &n) || n < 5) {
        *error = "data bits '" + value + "' are not 5..8";
        return false;
      }
      definition->data_bits = static_cast<uint8_t>(n);
    } else if (key == "stop") {
      if (value != "1" && value != "2") {
        *error = "stop bits '" + value + "' are not 1 or 2";
        return false;
      }
      definition->stop_bits = static_cast<uint8_t>(value[0] - '0');
    } else {
      *error = "unknown serial setting '" + key + "' (baud, parity, data, stop)";
      return false;
    }
  }
  return true;
}

// "64M", "500K", "1G", "4096": bytes.
bool ParseSize(const std::string& text, uint64_t* out) {
  if (text.empty()) return false;
  uint64_t unit = 1;
  std::string digits = text;
  switch (text.back()) {
    case 'K':
    case 'k':
      unit = uint64_t{1} << 10;
      break;
    case 'M':
    case 'm':
      unit = uint64_t{1} << 20;
      break;
    case 'G':
    case 'g':
      unit = uint64_t{1} << 30;
      break;
    default:
      break;
  }
  if (unit != 1) digits.pop_back();
  uint64_t n = 0;
  if (!ParseUint(digits, (uint64_t{1} << 50) / unit, &n) || n == 0) return false;
  *out = n * unit;
  return true;
}

// The gateway's options; 1 taken, 0 not one of them, -1 refused.
int ParseGatewayOption(const std::vector<std::string>& args, size_t* i, HostOptions* o,
                       std::string* error) {
  const std::string& a = args[*i];
  static const char* const kNames[] = {
      "--mqtt",    "--mqtt-client-id", "--mqtt-user",        "--mqtt-password",
      "--mqtt-ca", "--mqtt-outbox",    "--mqtt-outbox-size", "--metrics"};
  bool known = false;
  for (const char* n : kNames)
    known = known || a == n;
  if (!known) return 0;
  if (*i + 1 >= args.size()) {
    *error = "option " + a + " needs a value";
    return -1;
  }
  const std::string& v = args[++*i];
  if (a == "--mqtt") {
    MqttUrl url;
    if (!ParseMqttUrl(v, &url, error)) return -1;
    o->mqtt = v;
  } else if (a == "--mqtt-client-id") {
    o->mqtt_client_id = v;
  } else if (a == "--mqtt-user") {
    o->mqtt_user = v;
  } else if (a == "--mqtt-password") {
    o->mqtt_password = v;
  } else if (a == "--mqtt-ca") {
    o->mqtt_ca = v;
  } else if (a == "--mqtt-outbox") {
    o->mqtt_outbox = v;
  } else if (a == "--mqtt-outbox-size") {
    if (!ParseSize(v, &o->mqtt_outbox_bytes) || o->mqtt_outbox_bytes < 4096) {
      *error = "--mqtt-outbox-size '" + v + "' is not a size of 4K or more (K, M, G)";
      return -1;
    }
  } else {
    MetricsTarget t;
    if (!ParseMetricsTarget(v, &t)) {
      *error = "--metrics '" + v + "' is neither ADDR:PORT nor a file";
      return -1;
    }
    o->metrics = v;
  }
  return 1;
}

}  // namespace

bool ParseMqttUrl(const std::string& text, MqttUrl* url, std::string* error) {
  MqttUrl u;
  std::string rest;
  if (text.rfind("mqtt://", 0) == 0) {
    rest = text.substr(7);
  } else if (text.rfind("mqtts://", 0) == 0) {
    rest = text.substr(8);
    u.tls = true;
    u.port = 8883;
  } else {
    *error = "--mqtt '" + text + "' is not mqtt://HOST[:PORT][/PREFIX] or mqtts://...";
    return false;
  }
  const size_t slash = rest.find('/');
  if (slash != std::string::npos) {
    u.prefix = rest.substr(slash + 1);
    rest.resize(slash);
    while (!u.prefix.empty() && u.prefix.back() == '/')
      u.prefix.pop_back();
    if (u.prefix.empty() || u.prefix.find_first_of("+#") != std::string::npos) {
      *error = "--mqtt '" + text + "': the topic prefix is empty or holds + or #";
      return false;
    }
  }
  const bool bracketed = !rest.empty() && rest[0] == '[';
  const size_t colon = rest.rfind(':');
  if (colon != std::string::npos && (!bracketed || rest.find(']') < colon)) {
    if (!SplitHostPort(rest, &u.host, &u.port) || u.port == 0) {
      *error = "--mqtt '" + text + "': expected HOST:PORT";
      return false;
    }
  } else {
    u.host = bracketed && rest.size() > 2 ? rest.substr(1, rest.size() - 2) : rest;
  }
  if (u.host.empty()) {
    *error = "--mqtt '" + text + "': no broker host";
    return false;
  }
  *url = u;
  return true;
}

bool ParseMetricsTarget(const std::string& text, MetricsTarget* target) {
  MetricsTarget t;
  uint64_t port = 0;
  if (text.empty()) return false;
  if (ParseUint(text, 65535, &port) && port > 0) {
    t.host = "127.0.0.1";
    t.port = static_cast<uint16_t>(port);
  } else if (text.find('/') == std::string::npos && text.find('\\') == std::string::npos &&
             SplitHostPort(text, &t.host, &t.port)) {
    if (t.port == 0) return false;
  } else {
    t.host.clear();
    t.file = text;
  }
  *target = t;
  return true;
}

bool ParsePortSpec(const std::string& text, PortSpec* definition, std::string* error) {
  PortSpec s;
  s.text = text;
  const auto starts = [&text](const char* prefix) { return text.rfind(prefix, 0) == 0; };
  if (starts("tcp://") || starts("listen://")) {
    s.kind = starts("tcp://") ? PortKind::kTcpClient : PortKind::kListen;
    const std::string rest = text.substr(text.find("://") + 3);
    if (!SplitHostPort(rest, &s.host, &s.port) || (s.kind == PortKind::kTcpClient && s.port == 0)) {
      *error = "port '" + text + "': expected HOST:PORT after '://'";
      return false;
    }
  } else if (starts("serial:")) {
    s.kind = PortKind::kSerial;
    std::string rest = text.substr(7);
    const size_t q = rest.find('?');
    if (q != std::string::npos) {
      std::string e;
      if (!ParseSerialOptions(rest.substr(q + 1), &s, &e)) {
        *error = "port '" + text + "': " + e;
        return false;
      }
      rest.resize(q);
    }
    if (rest.empty()) {
      *error = "port '" + text + "': no device after 'serial:'";
      return false;
    }
    s.device = rest;
  } else {
    *error = "port '" + text + "' is none of tcp://HOST:PORT, listen://ADDR:PORT, serial:DEVICE";
    return false;
  }
  *definition = s;
  return true;
}

bool ParseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error) {
  HostOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) {
        *error = "option " + a + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    std::string v;
    const int gateway = ParseGatewayOption(args, &i, &o, error);
    if (gateway < 0) return false;
    if (gateway > 0) continue;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--verbose" || a == "-v") {
      o.verbose = true;
    } else if (a == "--config" || a == "-c") {
      if (!value(&o.config)) return false;
    } else if (a == "--settings") {
      if (!value(&o.settings)) return false;
    } else if (a == "--section") {
      if (!value(&o.section)) return false;
    } else if (a == "--library") {
      if (!value(&o.library)) return false;
    } else if (a == "--output" || a == "-o") {
      if (!value(&o.output)) return false;
    } else if (a == "--store") {
      if (!value(&o.store)) return false;
    } else if (a == "--store-retention") {
      if (!value(&v)) return false;
      if (!ParseSeconds(v, &o.store_retention_days)) {
        *error = "--store-retention '" + v + "' is not a positive number of days";
        return false;
      }
    } else if (a == "--log") {
      if (!value(&o.log_file)) return false;
    } else if (a == "--module") {
      if (!value(&v)) return false;
      if (v == "2007") {
        o.module = Module::k2007;
      } else if (v == "gprs") {
        o.module = Module::kGprs;
      } else if (v == "1997") {
        o.module = Module::k1997;
      } else {
        *error = "--module '" + v + "' is none of 2007, gprs, 1997";
        return false;
      }
    } else if (a == "--format") {
      if (!value(&v)) return false;
      if (v == "json") {
        o.format = OutputFormat::kJson;
      } else if (v == "csv") {
        o.format = OutputFormat::kCsv;
      } else if (v == "text") {
        o.format = OutputFormat::kText;
      } else {
        *error = "--format '" + v + "' is none of json, csv, text";
        return false;
      }
    } else if (a == "--log-level") {
      if (!value(&v)) return false;
      uint64_t n = 0;
      if (!ParseUint(v, 2, &n)) {
        *error = "--log-level '" + v + "' is not 0 (errors), 1 (warnings) or 2 (all)";
        return false;
      }
      o.log_level = static_cast<int>(n);
    } else if (a == "--duration") {
      if (!value(&v)) return false;
      if (!ParseSeconds(v, &o.duration_s)) {
        *error = "--duration '" + v + "' is not a positive number of seconds";
        return false;
      }
    } else if (a == "--event") {
      if (!value(&v)) return false;
      if (v.empty()) {
        *error = "--event needs an event name";
        return false;
      }
      o.events.push_back(v);
    } else if (a == "--event-every") {
      if (!value(&v)) return false;
      if (!ParseSeconds(v, &o.event_every_s) || o.event_every_s < kMinEventEverySeconds) {
        *error = "--event-every '" + v + "' is not a number of seconds from " +
                 std::to_string(static_cast<int>(kMinEventEverySeconds));
        return false;
      }
    } else if (a == "--stats") {
      if (!value(&v)) return false;
      if (!ParseSeconds(v, &o.stats_every_s) || o.stats_every_s < kMinStatsSeconds) {
        *error = "--stats '" + v + "' is not a number of seconds from " +
                 std::to_string(static_cast<int>(kMinStatsSeconds));
        return false;
      }
    } else if (a == "--connect-attempts") {
      if (!value(&v)) return false;
      uint64_t n = 0;
      if (!ParseUint(v, 1000000, &n)) {
        *error = "--connect-attempts '" + v + "' is not a number (0: for ever)";
        return false;
      }
      o.connect_attempts = static_cast<uint32_t>(n);
    } else if (a == "--max-rate" || a == "--max-connections") {
      if (!value(&v)) return false;
      uint64_t n = 0;
      if (!ParseUint(v, 1000000000, &n)) {
        *error = a + " '" + v + "' is not a number (0: no limit)";
        return false;
      }
      (a == "--max-rate" ? o.max_bytes_per_s : o.max_connections) = static_cast<uint32_t>(n);
    } else if (a == "--idle-timeout") {
      if (!value(&v)) return false;
      if (v != "0" && (!ParseSeconds(v, &o.idle_timeout_s) || o.idle_timeout_s > 4000000)) {
        *error = "--idle-timeout '" + v + "' is not a number of seconds up to 4000000 (0: never)";
        return false;
      }
      if (v == "0") o.idle_timeout_s = 0;
    } else if (!a.empty() && a[0] == '-') {
      *error = "unknown option '" + a + "' (--help lists them)";
      return false;
    } else {
      PortSpec definition;
      if (!ParsePortSpec(a, &definition, error)) return false;
      o.ports.push_back(definition);
    }
  }
  if (o.help || o.version) {
    *options = o;
    return true;
  }
  if (o.ports.empty()) {
    *error = "no port given (tcp://HOST:PORT, listen://ADDR:PORT or serial:DEVICE)";
    return false;
  }
  if (o.config.empty() && o.settings.empty()) {
    *error = "no configuration: give --config FILE.xml or --settings FILE.ini";
    return false;
  }
  *options = o;
  return true;
}

const char* HostUsage() {
  return "usage: dlt645-host [options] PORT...\n"
         "       dlt645-host check [--strict] CONFIG.xml...\n"
         "       dlt645-host read [--module 1997] --meter ADDR --function CODE|NAME[,...]\n"
         "                        [--rate R] [--timeout MS] PORT\n"
         "       dlt645-host discover [--timeout MS] PORT\n"
         "       dlt645-host sync-time [--meter ADDR] [--timeout MS] PORT\n"
         "       dlt645-host functions [--module 1997] [--format text|json|markdown]\n"
         "       dlt645-host options [--format text|json]\n"
         "\n"
         "Loads the DL/T 645 plug-in, polls the meters on the ports and prints the\n"
         "decoded records, one per line. The subcommands commission a site: check a\n"
         "configuration (exit 2 on errors, 1 on warnings with --strict), read one\n"
         "meter now, find the address of the meter on a line, set the meters' clocks\n"
         "(and read one back), list the plug-in's functions and settings.\n"
         "\n"
         "Ports (each one data source, numbered from 1 in the order given):\n"
         "  tcp://HOST:PORT        a TCP client, e.g. a serial-to-Ethernet converter\n"
         "  listen://ADDR:PORT     a TCP server for GPRS modems (DTUs), one client per connection\n"
         "  serial:DEVICE[?baud=2400&parity=even&data=8&stop=1]\n"
         "                         a serial line (/dev/ttyUSB0, COM3); default 2400 8E1\n"
         "\n"
         "Options:\n"
         "  -c, --config FILE      query configuration (XML, root DL_T645_2007_QUERY)\n"
         "      --settings FILE    settings file (INI): written from --config when given,\n"
         "                         else used as it is; default a file in the temp folder\n"
         "      --section PREFIX   INI section prefix of the plug-in (default dlt645-host)\n"
         "      --library PATH     the plug-in library (default: the one beside this program)\n"
         "      --module M         2007 (default), gprs or 1997\n"
         "      --format F         json (default), csv, or text (for people: the values only)\n"
         "  -o, --output FILE      records appended to FILE instead of standard output\n"
         "      --log FILE         log appended to FILE instead of standard error\n"
         "                         (both opened again on SIGHUP, for log rotation)\n"
         "      --store FILE.db    every value also as a row of an SQLite file (not in the\n"
         "                         Windows build: no SQLite for it)\n"
         "      --store-retention DAYS  drop rows older than DAYS from the store\n"
         "      --log-level N      plug-in log lines shown: 0 errors, 1 and warnings, 2 all "
         "(default)\n"
         "      --duration S       stop after S seconds (default: until Ctrl-C)\n"
         "      --event NAME       send the host event NAME once the ports are open (repeatable)\n"
         "      --event-every S    ... and again every S seconds\n"
         "      --connect-attempts N  give up a network port after N failed attempts (0: never)\n"
         "      --stats S          log connections, records and bytes, and each meter's\n"
         "                         health, every S seconds\n"
         "\n"
         "Gateway (MQTT is Linux-only; the Windows build has no client library):\n"
         "      --mqtt mqtt://HOST[:PORT][/PREFIX]  publish every record at QoS 1 on\n"
         "                         PREFIX/METER/FUNCTION (JSON; PREFIX default dlt645) and\n"
         "                         PREFIX/status/CLIENT-ID \"online\"/\"offline\" (retained);\n"
         "                         mqtts:// with TLS (port 8883)\n"
         "      --mqtt-client-id ID  default dlt645-host-<host name>\n"
         "      --mqtt-user USER, --mqtt-password PASSWORD  (or DLT645_MQTT_PASSWORD)\n"
         "      --mqtt-ca FILE     TLS: CA certificates (PEM); default the system's\n"
         "      --mqtt-outbox FILE records wait here (SQLite) until the broker has them\n"
         "                         (default dlt645-outbox.db in the working folder)\n"
         "      --mqtt-outbox-size SIZE  most the outbox holds (default 64M); past it the\n"
         "                         oldest records are dropped and counted\n"
         "      --metrics ADDR:PORT|PORT|FILE  each meter's health in Prometheus text:\n"
         "                         served at /metrics (a bare port: on 127.0.0.1), or\n"
         "                         written to FILE every 10 s (textfile collector)\n"
         "      --max-rate B       read a line sending more than B bytes/s more slowly, and\n"
         "                         say so (default 65536; 0: no limit)\n"
         "      --idle-timeout S   close a listen:// connection silent for S seconds\n"
         "                         (default 1800; 0: never)\n"
         "      --max-connections N  refuse connections to a listen:// port beyond N\n"
         "                         (default 10000; 0: no limit)\n"
         "  -v, --verbose          log the host's own traffic\n"
         "      --version, -h, --help\n"
         "\n"
         "SIGHUP (Linux) opens --output and --log again and reloads the configuration\n"
         "(--config, else --settings) without closing ports or connections; one that\n"
         "does not parse is logged and the running one goes on.\n"
         "\n"
         "Exit codes: 0 done or interrupted, 1 the library, a port or the plug-in failed,\n"
         "2 bad command line or configuration.\n";
}

const char* ModuleName(Module module) {
  switch (module) {
    case Module::kGprs:
      return "DL-T645/2007 [GPRS]";
    case Module::k1997:
      return "DL-T645/1997";
    case Module::k2007:
      break;
  }
  return "DL-T645/2007";
}

uint32_t ConfigIdOf(const std::string& name) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : name)
    crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace host
