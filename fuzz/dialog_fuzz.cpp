// Random bytes through the options dialog package: the component stream
// reader (a whole form and the string holder in it), the form script
// translator, and the gzip writer. Checks that nothing reads outside the
// data, that what the writers write their readers read back, and that the
// gzip member inflates to its data.
//
// Input: byte 0 picks the reader; the rest is its data.
#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "config/dialog/form_script.h"
#include "config/dialog/form_stream.h"
#include "config/dialog/gzip.h"
#include "config/text/qon_str_holder.h"
#include "config/xml/dov_xml_tree.h"
#include "fuzz_check.h"

namespace {

// A component: class and name, properties, owned components.
void ReadObject(TFormStreamReader& r, int depth) {
  Check(depth < 1000, "depth");
  r.ReadShortString();
  r.ReadShortString();
  while (!r.EndOfList()) {
    r.ReadShortString();
    r.SkipValue();
  }
  while (!r.EndOfList())
    ReadObject(r, depth + 1);
}

void Stream(std::string_view data) {
  try {
    TFormStreamReader r(data);
    r.ReadSignature();
    ReadObject(r, 0);
  } catch (const std::runtime_error&) {
  }
  try {
    TqonStrHolder holder;
    TFormStreamReader r(data);
    holder.ReadComponent(r);
  } catch (const std::runtime_error&) {
  }
}

// The writer's values, read back in order.
void WriterRoundTrip(std::string_view data) {
  const std::string_view name = data.substr(0, std::min<size_t>(data.size(), 255));
  TFormStreamWriter w;
  w.WriteSignature();
  w.BeginObject("TFuzz", name);
  w.WritePropName("Text");
  w.WriteString(data);
  w.WritePropName("Number");
  w.WriteInteger(static_cast<int64_t>(data.size()) * -977);
  w.WritePropName("Lines");
  w.BeginList();
  for (size_t i = 0; i < data.size(); i += 40)
    w.WriteString(data.substr(i, 40));
  w.EndList();
  w.EndProperties();
  w.EndObject();

  TFormStreamReader r(w.Data());
  r.ReadSignature();
  Check(r.ReadShortString() == "TFuzz" && r.ReadShortString() == name, "object header");
  Check(r.ReadShortString() == "Text" && r.ReadString() == data, "text");
  Check(r.ReadShortString() == "Number" &&
            r.ReadInteger() == static_cast<int64_t>(data.size()) * -977,
        "number");
  Check(r.ReadShortString() == "Lines", "list name");
  const std::vector<std::string> lines = r.ReadStringList();
  std::string joined;
  for (const std::string& line : lines)
    joined += line;
  Check(joined == data, "list");
  Check(r.EndOfList() && r.EndOfList() && r.AtEnd(), "object end");
}

void Script(std::string_view source) {
  std::string xml;
  try {
    xml = FormScriptToXml(source);
  } catch (const std::exception&) {
    return;
  }
  TdovXMLTree tree;
  tree.SetXML(xml);  // what the translator writes is XML
}

std::string Inflate(std::string_view packed, int window_bits) {
  z_stream z{};
  Check(inflateInit2(&z, window_bits) == Z_OK, "inflate init");
  std::string out;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  int rc = Z_OK;
  char buf[4096];
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  }
  Check(rc == Z_STREAM_END && z.avail_in == 0, "a whole deflate stream");
  inflateEnd(&z);
  return out;
}

void Gzip(std::string_view data) {
  Check(GzipCrc32(data) ==
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())),
        "crc");
  Check(Inflate(DeflateFixed(data), -15) == data, "deflate round trip");
  Check(Inflate(GzipMember(data, "form.txt", 7), 16 + 15) == data, "gzip round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size == 0) return 0;
  const std::string_view data(reinterpret_cast<const char*>(bytes) + 1, size - 1);
  switch (bytes[0] & 3) {
    case 0:
      Stream(data);
      break;
    case 1:
      WriterRoundTrip(data);
      break;
    case 2:
      Script(data);
      break;
    default:
      Gzip(data);
      break;
  }
  return 0;
}
