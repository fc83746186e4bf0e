#pragma once
// The export and import tables of a 32-bit Windows image, read from its file.
#include <string>
#include <vector>

struct PeTables {
  bool valid = false;
  std::vector<std::string> exports;  // by name
  std::vector<std::string> imports;  // DLL names
};

// valid is false when the file is no PE32 image.
PeTables ReadPeTables(const std::string& path);
