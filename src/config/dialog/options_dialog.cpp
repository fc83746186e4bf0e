#include "config/dialog/options_dialog.h"

#include "platform/resources.h"
#include "platform/strings.h"

namespace {

std::string Load(const std::string& name) {
  std::string data;
  if (name.empty() || !platform::LoadModuleResource(name, &data)) data.clear();
  return data;
}

void PutLE32(std::string* out, size_t value) {
  const auto v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i)
    *out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

void LoadNamedDialogTexts(std::string_view form_name, TDialogTexts* texts) {
  const std::string name = platform::AnsiUpperCase(form_name);
  texts->Form = Load(name);
  texts->Script = Load(name + "_CODE");
}

TDialogTexts LoadDialogTexts(std::string_view requested_name) {
  TDialogTexts t;
  if (!requested_name.empty()) {
    LoadNamedDialogTexts(requested_name, &t);
    return t;
  }
  t.Script = Load("FORM_DATA");
  const std::string named = Load("FORM_NAME");
  std::string_view form_name = named;
  while (!form_name.empty() && static_cast<unsigned char>(form_name.back()) <= ' ')
    form_name.remove_suffix(1);
  while (!form_name.empty() && static_cast<unsigned char>(form_name.front()) <= ' ')
    form_name.remove_prefix(1);
  if (!form_name.empty()) t.Form = Load(platform::AnsiUpperCase(form_name));
  return t;
}

std::string PackDialogTexts(const TDialogTexts& t) {
  constexpr size_t kHeader = 24;
  std::string out;
  out.reserve(kHeader + t.Form.size() + t.Extra.size() + t.Script.size());
  const size_t extra_at = kHeader + t.Form.size();
  const size_t script_at = extra_at + t.Extra.size();
  PutLE32(&out, kHeader);
  PutLE32(&out, t.Form.size());
  PutLE32(&out, extra_at);
  PutLE32(&out, t.Extra.size());
  PutLE32(&out, script_at);
  PutLE32(&out, t.Script.size());
  out += t.Form;
  out += t.Extra;
  out += t.Script;
  return out;
}
