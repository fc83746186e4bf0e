#pragma once
// Small helpers the host's test files share.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <asio.hpp>

#include "platform/module.h"

namespace host_test {

// A file built beside the test program (the plug-in, the tools).
inline std::string Beside(const char* file) {
  return (std::filesystem::path(platform::ProgramFileName()).parent_path() / file).string();
}

inline std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// A loopback port nobody listens on (free when asked).
inline uint16_t FreePort() {
  asio::io_context io;
  asio::ip::tcp::acceptor probe(io, {asio::ip::make_address("127.0.0.1"), 0});
  return probe.local_endpoint().port();
}

}  // namespace host_test
