// dlt645-host: runs the DL/T 645 plug-in for real, on TCP ports, DTU
// connections and serial lines, and prints what it decodes.
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "host_app.h"
#include "host_commands.h"
#include "host_config.h"
#include "host_mqtt.h"
#include "host_options.h"
#include "host_platform.h"
#include "host_records.h"
#include "host_store.h"
#include "platform/module.h"
#include "platform/process_limits.h"
#include "platform/strings.h"

namespace {

using namespace host;

int Usage(const std::string& error) {
  std::fprintf(stderr, "dlt645-host: %s\n", error.c_str());
  return kExitUsage;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const auto p = std::filesystem::absolute(path, ec);
  return ec ? path : p.string();
}

// A settings file of its own for this run, in the temp folder.
std::string TemporarySettingsFile() {
  std::error_code ec;
  auto dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = ".";
  std::random_device rd;
  return (dir / ("dlt645-host-" + std::to_string(rd()) + ".ini")).string();
}

struct FileCloser {
  std::FILE* f = nullptr;
  ~FileCloser() {
    if (f) std::fclose(f);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && IsSubcommand(args[0])) return RunSubcommand(args);
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(args, &options, &error)) return Usage(error);
  if (options.help) {
    std::fputs(HostUsage(), stdout);
    return kExitOk;
  }
  if (options.version) {
    std::printf("dlt645-host %s\n", DLT645_VERSION_TEXT);
    return kExitOk;
  }

  if (!options.store.empty() && !StoreAvailable())
    return Usage("--store: this build has no store (no SQLite for it)");
  if (!options.mqtt.empty() && !MqttAvailable())
    return Usage("--mqtt: this build has no MQTT client (Linux with libmosquitto only)");

  FileCloser records_file;
  FileCloser log_file;
  if (!options.output.empty()) {
    records_file.f = std::fopen(options.output.c_str(), "ab");
    if (!records_file.f) return Usage("cannot write " + options.output);
  }
  if (!options.log_file.empty()) {
    log_file.f = std::fopen(options.log_file.c_str(), "ab");
    if (!log_file.f) return Usage("cannot write " + options.log_file);
  }
  std::FILE* log = log_file.f ? log_file.f : stderr;

  // The configuration goes to the plug-in through its settings file.
  bool temporary = false;
  std::string settings = options.settings;
  if (!options.config.empty()) {
    ConfigCheck check;
    if (!ReadQueryConfigFile(options.config, &check, &error)) return Usage(error);
    // A request that cannot do what its text says is not run at all.
    if (!check.errors.empty()) {
      for (const std::string& e : check.errors)
        std::fprintf(stderr, "dlt645-host: %s: %s\n", options.config.c_str(), e.c_str());
      return Usage(options.config + ": " + std::to_string(check.errors.size()) +
                   " error(s); `dlt645-host check` lists everything");
    }
    for (const std::string& w : check.warnings)
      std::fprintf(log, "%s warning: %s: %s\n", IsoNowWithZone().c_str(), options.config.c_str(),
                   w.c_str());
    if (check.requests == 0)
      std::fprintf(log, "%s warning: %s: no request will be sent\n", IsoNowWithZone().c_str(),
                   options.config.c_str());
    if (settings.empty()) {
      settings = TemporarySettingsFile();
      temporary = true;
    }
    if (!WriteSettingsFile(settings, options.section, check.xml, &error)) return Usage(error);
  } else {
    std::string xml;
    ConfigCheck check;
    if (!ReadSettingsFile(settings, options.section, &xml, &error)) return Usage(error);
    // Where the code page is UTF-8, text that is not would pass through the
    // conversion as Latin-1 unnoticed: it must come back unchanged.
    const std::string utf8 = platform::AnsiToUtf8(xml);
    if (platform::Utf8ToAnsi(utf8) != xml)
      return Usage(settings + ": the stored configuration: the text is not UTF-8");
    if (!CheckQueryConfig(utf8, &check, &error))
      return Usage(settings + ": the stored configuration: " + error);
    if (!check.errors.empty()) {
      for (const std::string& e : check.errors)
        std::fprintf(stderr, "dlt645-host: %s: %s\n", settings.c_str(), e.c_str());
      return Usage(settings + ": the stored configuration has " +
                   std::to_string(check.errors.size()) + " error(s)");
    }
  }
  settings = AbsolutePath(settings);

  std::string library = options.library;
  if (library.empty()) {
    const std::filesystem::path program(platform::ProgramFileName());
    library = (program.parent_path() / DefaultLibraryFile()).string();
    // Installed: the plug-in in lib/dlt645 beside bin.
    const auto installed =
        program.parent_path().parent_path() / "lib" / "dlt645" / DefaultLibraryFile();
    std::error_code ec;
    if (!std::filesystem::exists(library, ec) && std::filesystem::exists(installed, ec))
      library = installed.string();
  }

  // A listen port holds a descriptor per connection.
  platform::RaiseOpenFileLimit(65536);

  int code = kExitFailure;
  {
    Host app(options, records_file.f ? records_file.f : stdout, log);
    code = app.Run(library, settings);
    const HostStats& s = app.Stats();
    if (options.verbose)
      std::fprintf(log, "%s %llu records, %llu blocks received\n", IsoNowWithZone().c_str(),
                   static_cast<unsigned long long>(s.records),
                   static_cast<unsigned long long>(s.blocks));
  }
  if (temporary) {
    std::error_code ec;
    std::filesystem::remove(settings, ec);
    RemoveSettingsLock(settings);
  }
  return code;
}
