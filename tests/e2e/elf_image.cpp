#include "elf_image.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

template <class T>
bool Read(const std::vector<char>& b, uint64_t at, T* v) {
  if (at > b.size() || b.size() - at < sizeof(T)) return false;
  std::memcpy(v, b.data() + at, sizeof(T));
  return true;
}

}  // namespace

ElfExports ReadElfExports(const std::string& path) {
  ElfExports r;
  std::ifstream f(path, std::ios::binary);
  const std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  // 64-bit (class 2), little-endian (data 1).
  if (b.size() < 64 ||
      std::memcmp(b.data(),
                  "\x7f"
                  "ELF",
                  4) != 0 ||
      b[4] != 2 || b[5] != 1)
    return r;
  uint64_t shoff = 0;
  uint16_t shentsize = 0, shnum = 0;
  if (!Read(b, 0x28, &shoff) || !Read(b, 0x3A, &shentsize) || !Read(b, 0x3C, &shnum)) return r;
  // The dynamic symbol table (type 11) and the string table it links to.
  for (uint16_t i = 0; i < shnum; ++i) {
    const uint64_t sh = shoff + uint64_t{i} * shentsize;
    uint32_t type = 0, link = 0;
    uint64_t off = 0, size = 0, entsize = 0;
    if (!Read(b, sh + 4, &type) || type != 11) continue;
    uint64_t stroff = 0;
    if (!Read(b, sh + 0x18, &off) || !Read(b, sh + 0x20, &size) || !Read(b, sh + 0x28, &link) ||
        !Read(b, sh + 0x38, &entsize) || entsize < 24 ||
        !Read(b, shoff + uint64_t{link} * shentsize + 0x18, &stroff))
      return r;
    for (uint64_t s = off + entsize; s + entsize <= off + size; s += entsize) {
      uint32_t name = 0;
      uint8_t info = 0, other = 0;
      uint16_t shndx = 0;
      if (!Read(b, s, &name) || !Read(b, s + 4, &info) || !Read(b, s + 5, &other) ||
          !Read(b, s + 6, &shndx))
        return r;
      const int bind = info >> 4, kind = info & 0xF, visibility = other & 3;
      if (shndx == 0 || (bind != 1 && bind != 2) || (visibility != 0 && visibility != 3)) continue;
      const uint64_t at = stroff + name;
      if (at >= b.size()) return r;
      const std::string text(b.data() + at, strnlen(b.data() + at, b.size() - at));
      (kind == 2 ? r.functions : r.others).push_back(text);
    }
    r.valid = true;
  }
  return r;
}
