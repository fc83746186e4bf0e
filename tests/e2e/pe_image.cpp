#include "pe_image.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

class Image {
 public:
  explicit Image(std::vector<char> bytes) : b_(std::move(bytes)) {}

  bool U16(size_t at, uint16_t* v) const { return Read(at, v, 2); }
  bool U32(size_t at, uint32_t* v) const { return Read(at, v, 4); }
  std::string Text(size_t at) const {
    if (at >= b_.size()) return {};
    size_t end = at;
    while (end < b_.size() && b_[end] != '\0')
      ++end;
    return std::string(b_.data() + at, end - at);
  }

  struct Section {
    uint32_t rva, size, file;
  };
  std::vector<Section> sections;

  // File offset of a relative virtual address; 0 when no section holds it.
  size_t Offset(uint32_t rva) const {
    for (const Section& s : sections)
      if (rva >= s.rva && rva < s.rva + s.size) return rva - s.rva + s.file;
    return 0;
  }

 private:
  bool Read(size_t at, void* v, size_t n) const {
    if (at + n > b_.size()) return false;
    std::memcpy(v, b_.data() + at, n);
    return true;
  }
  std::vector<char> b_;
};

}  // namespace

PeTables ReadPeTables(const std::string& path) {
  PeTables t;
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Image img(std::move(bytes));
  uint16_t mz = 0, sections = 0, optional_size = 0, magic = 0;
  uint32_t pe_at = 0, signature = 0;
  if (!img.U16(0, &mz) || mz != 0x5A4D || !img.U32(0x3C, &pe_at) || !img.U32(pe_at, &signature) ||
      signature != 0x00004550)
    return t;
  const size_t coff = pe_at + 4;
  const size_t optional = coff + 20;
  if (!img.U16(coff + 2, &sections) || !img.U16(coff + 16, &optional_size) ||
      !img.U16(optional, &magic) || magic != 0x10B)
    return t;
  for (uint16_t i = 0; i < sections; ++i) {
    const size_t s = optional + optional_size + i * 40u;
    Image::Section sec{};
    uint32_t virtual_size = 0, raw_size = 0;
    img.U32(s + 8, &virtual_size);
    img.U32(s + 12, &sec.rva);
    img.U32(s + 16, &raw_size);
    img.U32(s + 20, &sec.file);
    sec.size = virtual_size > raw_size ? virtual_size : raw_size;
    img.sections.push_back(sec);
  }
  // Data directories of PE32 start at offset 96 of the optional header.
  uint32_t export_rva = 0, import_rva = 0;
  img.U32(optional + 96, &export_rva);
  img.U32(optional + 104, &import_rva);
  if (export_rva) {
    const size_t dir = img.Offset(export_rva);
    uint32_t names = 0, names_rva = 0;
    img.U32(dir + 24, &names);
    img.U32(dir + 32, &names_rva);
    for (uint32_t i = 0; i < names; ++i) {
      uint32_t name_rva = 0;
      img.U32(img.Offset(names_rva) + i * 4u, &name_rva);
      t.exports.push_back(img.Text(img.Offset(name_rva)));
    }
  }
  if (import_rva) {
    for (size_t d = img.Offset(import_rva);; d += 20) {
      uint32_t name_rva = 0, thunks = 0;
      if (!img.U32(d + 12, &name_rva) || !img.U32(d + 16, &thunks) || name_rva == 0) break;
      t.imports.push_back(img.Text(img.Offset(name_rva)));
    }
  }
  t.valid = true;
  return t;
}
