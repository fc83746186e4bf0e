#pragma once
// The functions a 64-bit ELF shared library exports, read from its file.
#include <string>
#include <vector>

struct ElfExports {
  bool valid = false;
  std::vector<std::string> functions;  // defined, global or weak, visible
  std::vector<std::string> others;     // other defined visible symbols (data)
};

// valid is false when the file is no 64-bit little-endian ELF image.
ElfExports ReadElfExports(const std::string& path);
