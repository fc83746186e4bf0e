#pragma once
// What names a window and a message, shared by the message loop's interface
// (message_loop.h) and its backends (message_loop_backend.h) without either
// including the other.
#include <cstdint>

namespace platform {

// HWND on Windows; an identifier of the portable loop otherwise. 0 = none.
using WindowHandle = uintptr_t;

constexpr uint32_t WM_TIMER_ = 275;
// The first message number of the application's own range.
constexpr uint32_t WM_USER_ = 1024;

}  // namespace platform
