#pragma once
// Pseudo-terminals: a tool that plays a serial device offers the slave side
// to a program that opens it like a serial port.
#include <string>

namespace platform {

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Opens a pair in raw mode. The slave side is kept open here too, so the
  // master does not fail while no program has the slave open. False with a
  // message where the system has none (Windows) or the open fails.
  bool Open(std::string* error);
  void Close();

  // The master's descriptor (-1 when closed); the caller does not own it.
  int MasterHandle() const { return master_; }
  // Takes the master's descriptor over (e.g. to an I/O object that closes it).
  int ReleaseMaster();
  const std::string& SlavePath() const { return slave_path_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

}  // namespace platform
