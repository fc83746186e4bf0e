#pragma once
// The host's binary component stream ("TPF0"): objects with their class and
// name, properties as name and typed value, owned objects nested. Used by the
// resource generator (compiled for the build machine too), so it depends on
// the standard library only.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TValueType : uint8_t {
  vaNull = 0,
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,
  vaCurrency = 16,
  vaDate = 17,
  vaWString = 18,
  vaInt64 = 19,
  vaUTF8String = 20,
  vaDouble = 21,
};

class TFormStreamWriter {
 public:
  void WriteSignature() { out_ += "TPF0"; }
  // Class and name as short strings (at most 255 bytes).
  void BeginObject(std::string_view class_name, std::string_view name);
  // Ends the property list of the current object; owned objects may follow.
  void EndProperties() { WriteType(TValueType::vaNull); }
  // Ends the owned objects of the current object.
  void EndObject() { WriteType(TValueType::vaNull); }

  void WritePropName(std::string_view name) { WriteShortString(name); }
  // In the smallest of the 8-, 16-, 32- and 64-bit forms.
  void WriteInteger(int64_t value);
  // vaString up to 255 bytes, vaLString above.
  void WriteString(std::string_view value);
  void WriteUtf8String(std::string_view value);
  // "False", "True", "nil" and "Null" have value types of their own.
  void WriteIdent(std::string_view ident);
  void WriteBoolean(bool value) { WriteType(value ? TValueType::vaTrue : TValueType::vaFalse); }
  void WriteSet(const std::vector<std::string>& members);
  void BeginList() { WriteType(TValueType::vaList); }
  void EndList() { WriteType(TValueType::vaNull); }
  void WriteBinary(std::string_view bytes);

  const std::string& Data() const { return out_; }

 private:
  void WriteType(TValueType t) { out_ += static_cast<char>(t); }
  void WriteShortString(std::string_view s);
  void WriteLE(uint64_t v, int bytes);

  std::string out_;
};

// Reads values back; raises std::runtime_error on malformed or truncated data.
class TFormStreamReader {
 public:
  explicit TFormStreamReader(std::string_view data) : data_(data) {}

  bool AtEnd() const { return pos_ >= data_.size(); }
  size_t Position() const { return pos_; }
  void ReadSignature();
  TValueType PeekType() const;
  TValueType ReadType();
  // Consumes the vaNull that ends a list of properties or objects, when next.
  bool EndOfList();
  std::string ReadShortString();
  int64_t ReadInteger();
  // Any string form; wide strings come as UTF-8.
  std::string ReadString();
  std::string ReadIdent();
  // A list of strings (vaList ... vaNull).
  std::vector<std::string> ReadStringList();
  // Skips one value of any type.
  void SkipValue();

 private:
  uint64_t ReadLE(int bytes);
  const char* Take(size_t n);

  std::string_view data_;
  size_t pos_ = 0;
};
