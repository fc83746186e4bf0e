#include <windows.h>

#include "platform/process.h"

namespace platform {
namespace {

// Quoting by the rules the C runtime uses to split a command line.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      out.append(backslashes * 2 + 1, '\\');
    else
      out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

}  // namespace

int RunProgram(const std::string& program, const std::vector<std::string>& args) {
  std::string cmd = Quote(program);
  for (const auto& a : args)
    cmd += " " + Quote(a);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi)) {
    return -1;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  const bool ok = GetExitCodeProcess(pi.hProcess, &code) != 0;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return ok ? static_cast<int>(code) : -1;
}

}  // namespace platform
