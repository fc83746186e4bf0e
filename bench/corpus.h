#pragma once
// The reference corpus of bench/make_corpus.py: its files, found through
// DLT645_CORPUS (default build/corpus), and expected.txt read back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/datetime.h"

namespace corpus {

inline std::string Path(const char* name) {
  const char* dir = std::getenv("DLT645_CORPUS");
  return std::string(dir != nullptr ? dir : "build/corpus") + "/" + name;
}

inline std::vector<uint8_t> ReadFile(const char* name) {
  std::ifstream in(Path(name), std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s (set DLT645_CORPUS)\n", Path(name).c_str());
    std::abort();
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// One answer of the corpus: its identifier, its values, and for demand
// (01150000) the time stamp after the value.
struct Expected {
  uint32_t Id = 0;
  std::vector<double> Values;
  int64_t StampMs = -1;
};

inline std::vector<Expected> ReadExpected() {
  std::ifstream in(Path("expected.txt"));
  std::vector<Expected> out;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string word;
    Expected e;
    fields >> word;
    e.Id = static_cast<uint32_t>(std::strtoul(word.c_str(), nullptr, 16));
    while (fields >> word) {
      if (e.Id == 0x01150000 && word.size() == 10 && !e.Values.empty()) {
        const auto two = [&word](size_t at) { return std::atoi(word.substr(at, 2).c_str()); };
        int64_t seconds = 0;
        platform::TryEncodeDateTime(2000 + two(0), two(2), two(4), two(6), two(8), 0, &seconds);
        e.StampMs = seconds * 1000;
      } else {
        e.Values.push_back(std::strtod(word.c_str(), nullptr));
      }
    }
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace corpus
