#pragma once
// The simulator's log on stderr: quiet unless --verbose.
#include <cstdarg>

namespace metersim {

void SetVerbose(bool verbose);
bool Verbose();
// One line with a time of day in front; only when verbose.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One line whatever the verbosity (errors).
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace metersim
