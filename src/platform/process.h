#pragma once
// Starting programs; the test suites use it to run a second process.
#include <string>
#include <vector>

namespace platform {

// Runs the program with the arguments and waits for it to end. Its exit code,
// or -1 when it could not be started.
int RunProgram(const std::string& program, const std::vector<std::string>& args);

}  // namespace platform
