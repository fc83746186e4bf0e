#include "platform/pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

PseudoTerminal::~PseudoTerminal() {
  Close();
}

bool PseudoTerminal::Open(std::string* error) {
  Close();
  const auto fail = [&](const char* what) {
    *error = std::string(what) + ": " + strerror(errno);
    Close();
    return false;
  };
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return fail("cannot open a pseudo-terminal");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0)
    return fail("cannot unlock the pseudo-terminal");
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) return fail("cannot name the pseudo-terminal");
  slave_path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0) return fail("cannot open the pseudo-terminal's slave side");
  // Raw bytes both ways: no echo, no line editing, no CR/LF translation.
  termios tio{};
  if (tcgetattr(slave_, &tio) != 0) return fail("cannot read the terminal settings");
  cfmakeraw(&tio);
  if (tcsetattr(slave_, TCSANOW, &tio) != 0) return fail("cannot set the terminal to raw mode");
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
    return fail("cannot make the pseudo-terminal non-blocking");
  return true;
}

void PseudoTerminal::Close() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
  slave_path_.clear();
}

int PseudoTerminal::ReleaseMaster() {
  const int fd = master_;
  master_ = -1;
  return fd;
}

}  // namespace platform
