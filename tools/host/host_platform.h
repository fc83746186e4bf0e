#pragma once
// What the host needs of the operating system beyond Asio: loading the
// plug-in, its own module handle, the thread's window messages, text forms.
#include <cstdint>
#include <string>

#include "platform/variant.h"

namespace host {

// The plug-in library: a dlopen handle or an HMODULE; 0 with a message.
uintptr_t OpenLibrary(const std::string& path, std::string* error);
void CloseLibrary(uintptr_t library);
void* LibrarySymbol(uintptr_t library, const char* name);
// The file name of the plug-in beside the program: libdlt645.so, dlt645.dll.
const char* DefaultLibraryFile();

// The "HANDLE" the plug-in looks the output function up in: the program
// itself (dlopen(NULL) / GetModuleHandle(NULL)).
uintptr_t OwnProgramHandle();
// Whether the plug-in's timers run on window messages that the host's
// thread must dispatch itself (Windows) rather than through
// PumpPluginMessages (POSIX).
bool UsesWindowMessages();
// Dispatches the calling thread's pending window messages; how many.
int DispatchWindowMessages();

// The bytes of a string value the plug-in made from bytes (frames), undoing
// the system's byte-to-wide conversion.
std::string WideToBytes(const platform::WChar* text, uint32_t length);

// The name the serial port is opened by (COM10 needs \\.\ on Windows).
std::string SerialDevicePath(const std::string& device);

}  // namespace host
