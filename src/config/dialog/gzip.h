#pragma once
// One gzip member (RFC 1952) with deflate data in fixed-Huffman blocks
// (RFC 1951). Standard library only: the resource generator uses it too.
#include <cstdint>
#include <string>
#include <string_view>

// The usual CRC-32 (reflected 0xEDB88320, start and final inversion).
uint32_t GzipCrc32(std::string_view data);

// The deflate data of `data`.
std::string DeflateFixed(std::string_view data);

// A whole member: header with the stored file name, deflate data, CRC-32 and
// size. mtime 0 keeps builds reproducible.
std::string GzipMember(std::string_view data, std::string_view file_name, uint32_t mtime = 0);
