#pragma once
// The few things in which the host differs between Windows and POSIX.
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/variant.h"

namespace host {

// The file name of the plug-in beside the program: libdlt645.so, dlt645.dll.
const char* DefaultLibraryFile();

// Whether the plug-in's timers run on the system's window messages, which
// the host's thread dispatches (Windows), rather than through the library's
// PumpPluginMessages (POSIX).
bool UsesWindowMessages();

// The bytes of a string value the plug-in made from bytes (frames), undoing
// the system's byte-to-wide conversion.
std::string WideToBytes(const platform::WChar* text, uint32_t length);

// The name the serial port is opened by (COM10 needs \\.\ on Windows).
std::string SerialDevicePath(const std::string& device);

// Points an open stream at `path` again, appending (for log rotation: the
// old file was renamed). False with the stream unchanged.
bool ReopenAppending(std::FILE* stream, const std::string& path);

// Removes the file behind the settings store's inter-process lock of
// `settings_file` (POSIX; Windows' named mutex goes with its last handle).
// Only for a settings file no other process uses.
void RemoveSettingsLock(const std::string& settings_file);

}  // namespace host
