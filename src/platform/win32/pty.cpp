#include "platform/pty.h"

namespace platform {

PseudoTerminal::~PseudoTerminal() {
  Close();
}

bool PseudoTerminal::Open(std::string* error) {
  *error = "pseudo-terminals are not available on Windows (use a virtual COM port pair)";
  return false;
}

void PseudoTerminal::Close() {}

int PseudoTerminal::ReleaseMaster() {
  return -1;
}

}  // namespace platform
