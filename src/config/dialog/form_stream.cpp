#include "config/dialog/form_stream.h"

#include <stdexcept>

namespace {

void Utf16ToUtf8(std::string_view bytes, std::string* out) {
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t c = static_cast<uint8_t>(bytes[i]) |
                 (static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8);
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size()) {
      const uint32_t lo = static_cast<uint8_t>(bytes[i + 2]) |
                          (static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 3])) << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | (c >> 12));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (c >> 18));
      *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

}  // namespace

void TFormStreamWriter::BeginObject(std::string_view class_name, std::string_view name) {
  WriteShortString(class_name);
  WriteShortString(name);
}

void TFormStreamWriter::WriteShortString(std::string_view s) {
  if (s.size() > 255) throw std::length_error("short string longer than 255 bytes");
  out_ += static_cast<char>(s.size());
  out_ += s;
}

void TFormStreamWriter::WriteLE(uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void TFormStreamWriter::WriteInteger(int64_t value) {
  if (value >= INT8_MIN && value <= INT8_MAX) {
    WriteType(TValueType::vaInt8);
    WriteLE(static_cast<uint64_t>(value), 1);
  } else if (value >= INT16_MIN && value <= INT16_MAX) {
    WriteType(TValueType::vaInt16);
    WriteLE(static_cast<uint64_t>(value), 2);
  } else if (value >= INT32_MIN && value <= INT32_MAX) {
    WriteType(TValueType::vaInt32);
    WriteLE(static_cast<uint64_t>(value), 4);
  } else {
    WriteType(TValueType::vaInt64);
    WriteLE(static_cast<uint64_t>(value), 8);
  }
}

void TFormStreamWriter::WriteString(std::string_view value) {
  if (value.size() <= 255) {
    WriteType(TValueType::vaString);
    WriteShortString(value);
  } else {
    WriteType(TValueType::vaLString);
    WriteLE(value.size(), 4);
    out_ += value;
  }
}

void TFormStreamWriter::WriteUtf8String(std::string_view value) {
  WriteType(TValueType::vaUTF8String);
  WriteLE(value.size(), 4);
  out_ += value;
}

void TFormStreamWriter::WriteIdent(std::string_view ident) {
  if (ident == "False")
    WriteType(TValueType::vaFalse);
  else if (ident == "True")
    WriteType(TValueType::vaTrue);
  else if (ident == "nil")
    WriteType(TValueType::vaNil);
  else if (ident == "Null")
    WriteType(TValueType::vaNull);
  else {
    WriteType(TValueType::vaIdent);
    WriteShortString(ident);
  }
}

void TFormStreamWriter::WriteSet(const std::vector<std::string>& members) {
  WriteType(TValueType::vaSet);
  for (const auto& m : members)
    WriteShortString(m);
  WriteShortString("");
}

void TFormStreamWriter::WriteBinary(std::string_view bytes) {
  WriteType(TValueType::vaBinary);
  WriteLE(bytes.size(), 4);
  out_ += bytes;
}

// ---------------------------------------------------------------------------

const char* TFormStreamReader::Take(size_t n) {
  if (n > data_.size() - pos_) throw std::runtime_error("component stream truncated");
  const char* p = data_.data() + pos_;
  pos_ += n;
  return p;
}

uint64_t TFormStreamReader::ReadLE(int bytes) {
  const char* p = Take(static_cast<size_t>(bytes));
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = (v << 8) | static_cast<uint8_t>(p[i]);
  return v;
}

void TFormStreamReader::ReadSignature() {
  if (std::string_view(Take(4), 4) != "TPF0") throw std::runtime_error("not a component stream");
}

TValueType TFormStreamReader::PeekType() const {
  if (pos_ >= data_.size()) throw std::runtime_error("component stream truncated");
  return static_cast<TValueType>(static_cast<uint8_t>(data_[pos_]));
}

TValueType TFormStreamReader::ReadType() {
  const TValueType t = PeekType();
  ++pos_;
  return t;
}

bool TFormStreamReader::EndOfList() {
  if (PeekType() != TValueType::vaNull) return false;
  ++pos_;
  return true;
}

std::string TFormStreamReader::ReadShortString() {
  const size_t n = static_cast<uint8_t>(*Take(1));
  return std::string(Take(n), n);
}

int64_t TFormStreamReader::ReadInteger() {
  switch (ReadType()) {
    case TValueType::vaInt8:
      return static_cast<int8_t>(ReadLE(1));
    case TValueType::vaInt16:
      return static_cast<int16_t>(ReadLE(2));
    case TValueType::vaInt32:
      return static_cast<int32_t>(ReadLE(4));
    case TValueType::vaInt64:
      return static_cast<int64_t>(ReadLE(8));
    default:
      throw std::runtime_error("integer value expected");
  }
}

std::string TFormStreamReader::ReadString() {
  switch (ReadType()) {
    case TValueType::vaString:
      return ReadShortString();
    case TValueType::vaLString:
    case TValueType::vaUTF8String: {
      const size_t n = static_cast<size_t>(ReadLE(4));
      return std::string(Take(n), n);
    }
    case TValueType::vaWString: {
      const size_t n = static_cast<size_t>(ReadLE(4));
      if (n > (data_.size() - pos_) / 2) throw std::runtime_error("component stream truncated");
      std::string out;
      Utf16ToUtf8(std::string_view(Take(n * 2), n * 2), &out);
      return out;
    }
    default:
      throw std::runtime_error("string value expected");
  }
}

std::string TFormStreamReader::ReadIdent() {
  switch (ReadType()) {
    case TValueType::vaIdent:
      return ReadShortString();
    case TValueType::vaFalse:
      return "False";
    case TValueType::vaTrue:
      return "True";
    case TValueType::vaNil:
      return "nil";
    case TValueType::vaNull:
      return "Null";
    default:
      throw std::runtime_error("identifier expected");
  }
}

std::vector<std::string> TFormStreamReader::ReadStringList() {
  if (ReadType() != TValueType::vaList) throw std::runtime_error("list expected");
  std::vector<std::string> out;
  while (!EndOfList())
    out.push_back(ReadString());
  return out;
}

void TFormStreamReader::SkipValue() {
  const TValueType t = PeekType();
  switch (t) {
    case TValueType::vaList:
      ++pos_;
      while (!EndOfList())
        SkipValue();
      return;
    case TValueType::vaInt8:
    case TValueType::vaInt16:
    case TValueType::vaInt32:
    case TValueType::vaInt64:
      ReadInteger();
      return;
    case TValueType::vaString:
    case TValueType::vaLString:
    case TValueType::vaUTF8String:
    case TValueType::vaWString:
      ReadString();
      return;
    case TValueType::vaIdent:
    case TValueType::vaFalse:
    case TValueType::vaTrue:
    case TValueType::vaNil:
    case TValueType::vaNull:
      ReadIdent();
      return;
    case TValueType::vaExtended:
      ++pos_;
      Take(10);
      return;
    case TValueType::vaSingle:
      ++pos_;
      Take(4);
      return;
    case TValueType::vaCurrency:
    case TValueType::vaDate:
    case TValueType::vaDouble:
      ++pos_;
      Take(8);
      return;
    case TValueType::vaBinary: {
      ++pos_;
      const size_t n = static_cast<size_t>(ReadLE(4));
      Take(n);
      return;
    }
    case TValueType::vaSet:
      ++pos_;
      while (!ReadShortString().empty()) {
      }
      return;
    case TValueType::vaCollection:
      ++pos_;
      while (!EndOfList()) {
        const TValueType it = PeekType();
        if (it == TValueType::vaInt8 || it == TValueType::vaInt16 || it == TValueType::vaInt32)
          ReadInteger();
        if (ReadType() != TValueType::vaList) throw std::runtime_error("collection item expected");
        while (!EndOfList()) {
          ReadShortString();
          SkipValue();
        }
      }
      return;
  }
  throw std::runtime_error("unknown value type");
}
