#pragma once
// The user's query configuration on its way to the plug-in: read and checked
// (well-formed XML with the root DL_T645_2007_QUERY), then written into the
// INI settings file in the form the plug-in's settings store reads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

// A function the plug-in will ask: its code (bit 31 the 1997 table), rate.
struct ConfiguredFunction {
  uint32_t code = 0;
  uint8_t rate = 0;
  bool operator==(const ConfiguredFunction&) const = default;
};

// What the plug-in will do with one request.
struct RequestPlan {
  std::string caption;
  std::string method;    // once, poll, at-time, cron, event
  double period_s = 0;   // poll: the interval; at-time: a day; cron: between its next moments
  std::string schedule;  // the time list, cron text or event name
  std::vector<std::string> devices;    // as the plug-in keeps them; "*" any device
  std::vector<std::string> functions;  // the codes it will ask, with their rate
  bool listen_only = false;            // no Enabled: answers are decoded, nothing is sent
  bool loaded = false;                 // false: the plug-in skips the request
};

struct ConfigCheck {
  std::string xml;                            // the text in the ANSI code page
  int requests = 0;                           // requests that the plug-in will load
  std::vector<ConfiguredFunction> functions;  // in order, once each
  std::vector<RequestPlan> plan;              // every request, in order
  std::vector<std::string> warnings;          // doubtful, or skipped by the plug-in silently
  std::vector<std::string> errors;            // the request cannot do what the text says
};

// The ranges the options dialog offers.
constexpr int32_t kMaxPollInterval = 655350;  // in its units
constexpr int32_t kMaxTimeoutMs = 65535;
constexpr int32_t kMaxRate = 14;
constexpr size_t kMaxCronText = 255;

// Where the text is not well-formed: "LINE:COLUMN: message"; empty when it is.
std::string XmlSyntaxError(const std::string& text);

// Checks a configuration text (UTF-8, a BOM allowed); false with a message.
bool CheckQueryConfig(const std::string& utf8_text, ConfigCheck* check, std::string* error);
// A configuration file larger than this is refused unread.
constexpr size_t kMaxConfigFileBytes = size_t{64} << 20;
bool ReadQueryConfigFile(const std::string& path, ConfigCheck* check, std::string* error);

// The INI section and key under which the plug-in keeps the configuration.
std::string ConfigSection(const std::string& prefix);
constexpr const char* kConfigKey = "Parser config";

// Writes the configuration into the settings file (other content kept).
bool WriteSettingsFile(const std::string& path, const std::string& prefix,
                       const std::string& ansi_xml, std::string* error);
// Reads it back out of an existing settings file; false with a message.
bool ReadSettingsFile(const std::string& path, const std::string& prefix, std::string* ansi_xml,
                      std::string* error);

}  // namespace host
