#include "host_commands.h"

#include <cstdio>

#include "host_app.h"

namespace host {

namespace {

std::string SecondsText(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", s);
  return text;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items)
    text += (text.empty() ? "" : ", ") + item;
  return text;
}

std::string MethodText(const RequestPlan& r) {
  if (r.method == "poll") return "polled every " + SecondsText(r.period_s) + " s";
  if (r.method == "at-time") return "daily at " + r.schedule;
  if (r.method == "cron")
    return "cron \"" + r.schedule + "\"" +
           (r.period_s > 0 ? " (next two " + SecondsText(r.period_s) + " s apart)" : "");
  if (r.method == "event") return "on host event \"" + r.schedule + "\"";
  return "once, when the port opens";
}

int Check(const std::vector<std::string>& args) {
  bool strict = false;
  std::vector<std::string> files;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--strict") {
      strict = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      std::fprintf(stderr, "dlt645-host check: unknown option '%s'\n", args[i].c_str());
      return kExitUsage;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.empty()) {
    std::fputs("usage: dlt645-host check [--strict] CONFIG.xml...\n", stderr);
    return kExitUsage;
  }
  int code = kExitOk;
  for (const std::string& path : files) {
    ConfigCheck check;
    std::string error;
    if (!ReadQueryConfigFile(path, &check, &error)) {
      std::printf("error: %s\n", error.c_str());
      code = kExitUsage;
      continue;
    }
    PrintConfigReport(stdout, path, check);
    const int c = ConfigCheckExit(check, strict);
    if (c == kExitUsage || code == kExitOk) code = c;
  }
  return code;
}

}  // namespace

void PrintConfigReport(std::FILE* out, const std::string& path, const ConfigCheck& check) {
  std::fprintf(out, "%s: %zu request(s), %d loaded\n", path.c_str(), check.plan.size(),
               check.requests);
  for (const RequestPlan& r : check.plan) {
    std::string line = "  " + r.caption + ": ";
    if (!r.loaded) {
      line += "skipped";
    } else {
      line += r.listen_only ? "listen-only (" + MethodText(r) + ", nothing sent)" : MethodText(r);
      line += "; devices " + Joined(r.devices) + "; functions " + Joined(r.functions);
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
  for (const std::string& e : check.errors)
    std::fprintf(out, "error: %s: %s\n", path.c_str(), e.c_str());
  for (const std::string& w : check.warnings)
    std::fprintf(out, "warning: %s: %s\n", path.c_str(), w.c_str());
  std::fprintf(out, "%s: %zu error(s), %zu warning(s)\n", path.c_str(), check.errors.size(),
               check.warnings.size());
}

int ConfigCheckExit(const ConfigCheck& check, bool strict) {
  if (!check.errors.empty()) return kExitUsage;
  if (strict && !check.warnings.empty()) return kExitFailure;
  return kExitOk;
}

bool IsSubcommand(const std::string& word) {
  return word == "check";
}

int RunSubcommand(const std::vector<std::string>& args) {
  if (args.empty()) return kExitUsage;
  if (args[0] == "check") return Check(args);
  return kExitUsage;
}

}  // namespace host
