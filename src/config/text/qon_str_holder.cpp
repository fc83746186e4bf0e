#include "config/text/qon_str_holder.h"

#include <stdexcept>

#include "config/dialog/form_stream.h"
#include "platform/strings.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
const char* const kDuplicatesNames[] = {"dupIgnore", "dupAccept", "dupError"};

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string DecodeV2(const std::string& s, const std::string& key_utf8) {
  std::string bytes;
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    const int hi = Hex(s[i]), lo = Hex(s[i + 1]);
    unsigned char b = lo < 0 ? 32 : static_cast<unsigned char>(((hi < 0 ? 0 : hi) << 4) | lo);
    if (!key_utf8.empty())
      b ^= static_cast<unsigned char>(key_utf8[bytes.size() % key_utf8.size()]);
    bytes += static_cast<char>(b);
  }
  bool ok = false;
  std::string ansi = platform::Utf8ToAnsi(bytes, &ok);
  return ok ? ansi : bytes;
}

std::string DecodeV1(const std::string& s, const std::string& key) {
  std::string out;
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    const int hi = Hex(s[i]), lo = Hex(s[i + 1]);
    unsigned char b = hi < 0 || lo < 0 ? 32 : static_cast<unsigned char>(hi * 16 + lo);
    if (!key.empty()) b ^= static_cast<unsigned char>(key[out.size() % key.size()]);
    out += static_cast<char>(b);
  }
  return out;
}

std::string DecodeV0(const std::string& s, const std::string& key_full) {
  std::string out = s.substr(0, 255);
  const std::string key = key_full.substr(0, 255);
  if (!key.empty()) {
    for (size_t i = 0; i < out.size(); ++i)
      out[i] = static_cast<char>(out[i] ^ key[i % key.size()]);
  }
  return out;
}

}  // namespace

TqonStrHolder::TqonStrHolder(TComponent* owner) : TComponent(owner) {
  strings_.OnChanging = [this](TStrings&) {
    if (!reading_ && OnChanging) OnChanging(*this);
  };
  strings_.OnChange = [this](TStrings&) {
    if (!reading_ && OnChange) OnChange(*this);
  };
}

std::span<const TPropInfo> TqonStrHolder::PublishedProperties() const {
  static const std::vector<TPropInfo> props = JoinProps(
      TComponent::ComponentProperties(),
      {
          {"Capacity", TTypeKind::tkInteger,
           [](const TPersistent& s) -> TPropValue {
             return static_cast<int64_t>(PropSelf<TqonStrHolder>(s).Capacity());
           },
           [](TPersistent& s, const TPropValue& v) {
             const int64_t c = PropAsInt(v);
             PropSelf<TqonStrHolder>(s).SetCapacity(c < 0 ? 0 : static_cast<size_t>(c));
           }},
          {"Duplicates", TTypeKind::tkEnumeration,
           [](const TPersistent& s) -> TPropValue {
             return static_cast<int64_t>(PropSelf<TqonStrHolder>(s).Duplicates());
           },
           [](TPersistent& s, const TPropValue& v) {
             const int64_t d = PropAsInt(v);
             if (d >= 0 && d <= 2)
               PropSelf<TqonStrHolder>(s).SetDuplicates(static_cast<TDuplicates>(d));
           },
           kDuplicatesNames, 3},
          {"KeyString", TTypeKind::tkLString,
           [](const TPersistent& s) -> TPropValue { return PropSelf<TqonStrHolder>(s).KeyString; },
           [](TPersistent& s, const TPropValue& v) {
             PropSelf<TqonStrHolder>(s).KeyString = PropAsText(v);
           }},
          {"Sorted", TTypeKind::tkEnumeration,
           [](const TPersistent& s) -> TPropValue {
             return int64_t{PropSelf<TqonStrHolder>(s).Sorted() ? 1 : 0};
           },
           [](TPersistent& s, const TPropValue& v) {
             PropSelf<TqonStrHolder>(s).SetSorted(PropAsInt(v) != 0);
           },
           kBooleanNames, 2},
          {"Strings", TTypeKind::tkClass,
           [](const TPersistent& s) -> TPropValue {
             return static_cast<TPersistent*>(
                 const_cast<TStrings*>(&PropSelf<TqonStrHolder>(s).Strings()));
           },
           [](TPersistent& s, const TPropValue& v) {
             const auto* obj = std::get_if<TPersistent*>(&v);
             if (obj && *obj) PropSelf<TqonStrHolder>(s).strings_.Assign(**obj);
           }},
      });
  return props;
}

void TqonStrHolder::Assign(const TPersistent& source) {
  if (const auto* list = dynamic_cast<const TStrings*>(&source)) {
    strings_.Assign(*list);
  } else if (const auto* holder = dynamic_cast<const TqonStrHolder*>(&source)) {
    strings_.Assign(holder->strings_);
  } else {
    TComponent::Assign(source);
  }
}

void TqonStrHolder::AssignTo(TPersistent& dest) const {
  if (auto* list = dynamic_cast<TStrings*>(&dest)) {
    list->Assign(strings_);
    return;
  }
  TComponent::AssignTo(dest);
}

std::vector<std::string> TqonStrHolder::EncodeStrData() const {
  std::vector<std::string> out{KeyString};
  const std::string key = platform::AnsiToUtf8(KeyString);
  for (size_t n = 0; n < strings_.Count(); ++n) {
    const std::string item = platform::AnsiToUtf8(strings_[n]);
    std::string hex;
    hex.reserve(item.size() * 2);
    for (size_t i = 0; i < item.size(); ++i) {
      auto b = static_cast<unsigned char>(item[i]);
      if (!key.empty()) b ^= static_cast<unsigned char>(key[i % key.size()]);
      hex += kHexDigits[b >> 4];
      hex += kHexDigits[b & 15];
    }
    out.push_back(std::move(hex));
  }
  return out;
}

void TqonStrHolder::DecodeStrData(const std::vector<std::string>& data) {
  if (!data.empty()) KeyString = data[0];
  const std::string key_utf8 = platform::AnsiToUtf8(KeyString);
  strings_.BeginUpdate();
  strings_.Clear();
  for (size_t i = 1; i < data.size(); ++i) {
    if (InternalVer >= 2)
      strings_.Add(DecodeV2(data[i], key_utf8));
    else if (InternalVer == 1)
      strings_.Add(DecodeV1(data[i], KeyString));
    else
      strings_.Add(DecodeV0(data[i], KeyString));
  }
  strings_.EndUpdate();
}

bool TqonStrHolder::StrDataStored(const TqonStrHolder* ancestor) const {
  if (ancestor && ancestor->KeyString == KeyString &&
      ancestor->strings_.Count() == strings_.Count() && strings_.Count() != 0) {
    for (size_t i = 0; i < strings_.Count(); ++i) {
      if (platform::AnsiLowerCase(strings_[i]) != platform::AnsiLowerCase(ancestor->strings_[i]))
        return true;
    }
    return false;
  }
  return strings_.Count() > 0 || !KeyString.empty();
}

void TqonStrHolder::WriteComponent(TFormStreamWriter& w, const TqonStrHolder* ancestor) const {
  w.BeginObject(ClassName(), Name());
  if (Tag() != 0) {
    w.WritePropName("Tag");
    w.WriteInteger(Tag());
  }
  if (Capacity() != 0) {
    w.WritePropName("Capacity");
    w.WriteInteger(static_cast<int64_t>(Capacity()));
  }
  if (Duplicates() != TDuplicates::dupIgnore) {
    w.WritePropName("Duplicates");
    w.WriteIdent(kDuplicatesNames[static_cast<int>(Duplicates())]);
  }
  if (Sorted()) {
    w.WritePropName("Sorted");
    w.WriteBoolean(true);
  }
  if (!ancestor) {
    w.WritePropName("InternalVer");
    w.WriteInteger(2);
  }
  if (StrDataStored(ancestor)) {
    w.WritePropName("StrData");
    w.BeginList();
    for (const auto& s : EncodeStrData())
      w.WriteString(s);
    w.EndList();
  }
  w.EndProperties();
  w.EndObject();
}

void TqonStrHolder::ReadComponent(TFormStreamReader& r) {
  r.ReadShortString();  // class
  SetName(r.ReadShortString());
  reading_ = true;
  try {
    while (!r.EndOfList()) {
      const std::string prop = r.ReadShortString();
      if (platform::SameTextAscii(prop, "Tag")) {
        SetTag(static_cast<int32_t>(r.ReadInteger()));
      } else if (platform::SameTextAscii(prop, "Capacity")) {
        const int64_t c = r.ReadInteger();
        SetCapacity(c < 0 || c > (1 << 24) ? 0 : static_cast<size_t>(c));
      } else if (platform::SameTextAscii(prop, "Duplicates")) {
        const std::string d = r.ReadIdent();
        for (int i = 0; i < 3; ++i) {
          if (platform::SameTextAscii(d, kDuplicatesNames[i]))
            SetDuplicates(static_cast<TDuplicates>(i));
        }
      } else if (platform::SameTextAscii(prop, "Sorted")) {
        SetSorted(r.ReadIdent() == "True");
      } else if (platform::SameTextAscii(prop, "InternalVer")) {
        InternalVer = static_cast<int32_t>(r.ReadInteger());
      } else if (platform::SameTextAscii(prop, "StrData")) {
        DecodeStrData(r.ReadStringList());
      } else {
        r.SkipValue();
      }
    }
    if (!r.EndOfList()) throw std::runtime_error("a string holder owns no components");
  } catch (...) {
    reading_ = false;
    throw;
  }
  reading_ = false;
}
