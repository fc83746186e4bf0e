#include "config/store/wreg.h"

#include <cstring>
#include <memory>
#include <optional>

#include "base/errors.h"
#include "base/str_to_int.h"
#include "base/trim.h"
#include "config/store/ini_file.h"
#include "config/store/proxy_code_object.h"
#include "config/store/value_codec.h"
#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace {

bool IsTextKind(TTypeKind k) {
  return k == TTypeKind::tkString || k == TTypeKind::tkLString || k == TTypeKind::tkWString ||
         k == TTypeKind::tkChar || k == TTypeKind::tkWChar;
}

using Form = TWreg::TStoredValue::Form;

// The stored form of a kind; false for kinds the store does not keep.
bool FormOf(TTypeKind k, Form* form) {
  switch (k) {
    case TTypeKind::tkInteger:
    case TTypeKind::tkInt64:
      *form = Form::Integer;
      return true;
    case TTypeKind::tkFloat:
      *form = Form::Float;
      return true;
    case TTypeKind::tkChar:
    case TTypeKind::tkEnumeration:
    case TTypeKind::tkString:
    case TTypeKind::tkLString:
    case TTypeKind::tkWChar:
    case TTypeKind::tkWString:
    case TTypeKind::tkVariant:
    case TTypeKind::tkClass:
      *form = Form::Text;
      return true;
    default:
      return false;
  }
}

std::optional<platform::RegistryRootKey> RootKey(uint8_t root) {
  switch (root) {
    case rrHKEY_CLASSES_ROOT:
      return platform::RegistryRootKey::ClassesRoot;
    case rrHKEY_CURRENT_USER:
      return platform::RegistryRootKey::CurrentUser;
    case rrHKEY_LOCAL_MACHINE:
      return platform::RegistryRootKey::LocalMachine;
    case rrHKEY_USERS:
      return platform::RegistryRootKey::Users;
    case rrHKEY_CURRENT_CONFIG:
      return platform::RegistryRootKey::CurrentConfig;
    default:
      return std::nullopt;
  }
}

std::string VariantText(const TPropValue& v) {
  if (const auto* d = std::get_if<double>(&v)) return FormatSettingFloat(*d);
  return PropAsText(v);
}

// The component named `name` anywhere below (and including) `c`.
TComponent* FindByNameBelow(TComponent* c, std::string_view name) {
  if (platform::SameTextAscii(c->Name(), name)) return c;
  for (size_t i = 0; i < c->ComponentCount(); ++i) {
    if (TComponent* f = FindByNameBelow(c->Components(i), name)) return f;
  }
  return nullptr;
}

// "Owner.Name" resolved from the top of the root's ownership chain.
TComponent* FindQualified(TPersistent* root, const std::string& qualified) {
  auto* top = dynamic_cast<TComponent*>(root);
  if (!top) return nullptr;
  while (top->Owner())
    top = top->Owner();
  const size_t dot = qualified.find('.');
  if (dot == std::string::npos) return FindByNameBelow(top, qualified);
  TComponent* owner = FindByNameBelow(top, std::string_view(qualified).substr(0, dot));
  return owner ? owner->FindComponent(std::string_view(qualified).substr(dot + 1)) : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Item lines, sections, paths

bool ParseWregItem(const std::string& line, TWregItem* item) {
  const std::string_view t = TrimControls(line);
  if (t.empty() || t.front() == ';') return false;
  size_t split = t.find(',');
  if (split == std::string_view::npos) split = t.find(';');
  std::string_view prop = t, value;
  if (split != std::string_view::npos) {
    prop = t.substr(0, split);
    value = t.substr(split + 1);
  }
  prop = TrimControls(prop);
  value = TrimControls(value);
  const size_t comment = value.find(';');
  if (comment != std::string_view::npos) value = TrimControls(value.substr(0, comment));
  if (prop.empty() || value.empty()) return false;

  std::string path;
  for (size_t i = 0; i < value.size(); ++i) {
    path += value[i];
    if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == '\\') ++i;
  }
  if (!path.empty() && path.front() == '\\') path.erase(0, 1);
  const size_t last = path.rfind('\\');
  item->PropertyPath = std::string(prop);
  if (last == std::string::npos) {
    item->SubPath.clear();
    item->ValueName = path;
  } else {
    item->SubPath = path.substr(0, last);
    item->ValueName = path.substr(last + 1);
  }
  return true;
}

std::string WregIniSection(const std::string& prefix, const std::string& sub_path) {
  std::string p = prefix, s = sub_path;
  if (!p.empty() && (p.back() == '/' || p.back() == '\\')) {
    p.pop_back();
  } else if (s.empty()) {
    s = "Common";
  }
  std::string section;
  if (!p.empty() && !s.empty())
    section = p + "." + s;
  else if (s.empty())
    section = p;
  else
    section = s;
  for (char& c : section) {
    if (c == '\\') c = '.';
  }
  return section;
}

std::string WregLockName(const std::string& ini_file) {
  std::string name = platform::AnsiLowerCase(ini_file);
  for (char& c : name) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) c = '_';
  }
  return name;
}

TResolvedProperty ResolvePropertyPath(TPersistent* root, const std::string& path) {
  TResolvedProperty r;
  if (!root || path.empty()) return r;
  if (dynamic_cast<TProxyCodeCustomObject*>(root)) {
    std::string name = path;
    for (char& c : name) {
      if (c == '.') c = '_';
    }
    r.Property = root->FindProperty(name);
    if (r.Property) r.Object = root;
    return r;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = path.find('.', start);
    parts.push_back(path.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  TPersistent* obj = root;
  size_t i = 0;
  if (parts.size() >= 2) {
    auto* owner = dynamic_cast<TComponent*>(root);
    TComponent* c = owner ? owner->FindComponent(parts[0]) : nullptr;
    if (!c) return r;
    obj = c;
    i = 1;
  }
  for (; i < parts.size(); ++i) {
    const TPropInfo* p = obj->FindProperty(parts[i]);
    if (!p) return r;
    if (i + 1 == parts.size()) {
      r.Object = obj;
      r.Property = p;
      return r;
    }
    if (p->Kind != TTypeKind::tkClass || !p->Get) return r;
    const TPropValue v = p->Get(*obj);
    const auto* next = std::get_if<TPersistent*>(&v);
    if (!next || !*next) return r;
    obj = *next;
  }
  return r;
}

// ---------------------------------------------------------------------------
// Stores

class TWreg::Store {
 public:
  virtual ~Store() = default;
  // Prepares the place of one line; false skips the line.
  virtual bool Select(const std::string& sub_path, bool save, int index) = 0;
  // False when the value is absent; raises when it does not fit the form.
  virtual bool Read(const std::string& name, TTypeKind kind, Form form, TStoredValue* value) = 0;
  // Raises when the value cannot be written.
  virtual void Write(const std::string& name, const TStoredValue& value) = 0;
  virtual void Delete(const std::string& name) = 0;
  virtual bool DeletesOnFailure() const { return false; }
  // False when what was written could not be kept.
  virtual bool Finish() { return true; }

  // After a value failed to read or write: the stores that want it so
  // delete it (quietly, as the line is skipped anyway).
  void Discard(const std::string& name) {
    if (!DeletesOnFailure()) return;
    try {
      Delete(name);
    } catch (const std::exception&) {
    }
  }
};

class TWreg::RegistryStore final : public TWreg::Store {
 public:
  RegistryStore(platform::RegistryRootKey root, std::string path)
      : root_(root), path_(std::move(path)) {}

  bool Select(const std::string& sub_path, bool save, int) override {
    std::string key = path_;
    if (!sub_path.empty()) key += "\\" + sub_path;
    key_ = platform::RegistryKey::Open(root_, key, save);
    return key_ != nullptr;
  }

  bool Read(const std::string& name, TTypeKind kind, Form form, TStoredValue* value) override {
    platform::RegValue v;
    if (!key_->ReadValue(name, &v)) return false;
    value->form = form;
    switch (form) {
      case Form::Integer:
        if (v.type != platform::RegValueType::Integer)
          throw EConvertError("Invalid data type for '" + name + "'");
        value->integer = static_cast<int32_t>(v.integer);
        return true;
      case Form::Float:
        if (v.type != platform::RegValueType::Binary || v.data.size() != sizeof(double)) {
          throw EConvertError("Invalid data type for '" + name + "'");
        }
        std::memcpy(&value->number, v.data.data(), sizeof(double));
        return true;
      case Form::Text:
        if (v.type == platform::RegValueType::String) {
          value->text = v.data;
        } else if (v.type == platform::RegValueType::Integer && kind != TTypeKind::tkClass) {
          value->text = std::to_string(static_cast<int32_t>(v.integer));
        } else if (v.type == platform::RegValueType::Binary && v.data.size() == sizeof(double) &&
                   kind != TTypeKind::tkClass) {
          double d = 0;
          std::memcpy(&d, v.data.data(), sizeof d);
          value->text = FormatSettingFloat(d);
        } else {
          throw EConvertError("Invalid data type for '" + name + "'");
        }
        return true;
    }
    return false;
  }

  void Write(const std::string& name, const TStoredValue& value) override {
    bool ok = false;
    switch (value.form) {
      case Form::Integer:
        // The registry keeps 32-bit integers only.
        if (value.integer < INT32_MIN || value.integer > INT32_MAX) break;
        ok = key_->WriteInteger(name, static_cast<uint32_t>(static_cast<int32_t>(value.integer)));
        break;
      case Form::Float:
        ok = key_->WriteBinary(name, &value.number, sizeof value.number);
        break;
      case Form::Text:
        ok = value.text.find('\0') == std::string::npos && key_->WriteString(name, value.text);
        break;
    }
    if (!ok) throw EqonError("Failed to set data for '" + name + "'");
  }

  void Delete(const std::string& name) override { key_->DeleteValue(name); }
  bool DeletesOnFailure() const override { return true; }

 private:
  platform::RegistryRootKey root_;
  std::string path_;
  std::unique_ptr<platform::RegistryKey> key_;
};

class TWreg::IniStore final : public TWreg::Store {
 public:
  IniStore(std::string file, std::string prefix)
      : file_(std::move(file)), prefix_(std::move(prefix)), lock_(WregLockName(file_)) {}

  // Takes the lock and reads the file; false when the lock cannot be had.
  bool Open() {
    if (!lock_.Lock()) return false;
    ini_.LoadFromFile(file_);
    return true;
  }

  bool Select(const std::string& sub_path, bool, int) override {
    section_ = WregIniSection(prefix_, sub_path);
    return true;
  }

  bool Read(const std::string& name, TTypeKind kind, Form form, TStoredValue* value) override {
    std::string text;
    if (!ini_.ReadString(section_, name, &text)) return false;
    value->form = form;
    switch (form) {
      case Form::Integer: {
        int64_t v = 0;
        if (!TryStrToInt64(text, &v) ||
            (kind == TTypeKind::tkInteger && (v < INT32_MIN || v > INT32_MAX))) {
          throw EConvertError("'" + text + "' is not a valid integer value");
        }
        value->integer = v;
        return true;
      }
      case Form::Float:
        if (!ParseSettingFloat(text, &value->number)) {
          throw EConvertError("'" + text + "' is not a valid floating point value");
        }
        return true;
      case Form::Text:
        value->text = std::move(text);
        return true;
    }
    return false;
  }

  void Write(const std::string& name, const TStoredValue& value) override {
    switch (value.form) {
      case Form::Integer:
        ini_.WriteString(section_, name, std::to_string(value.integer));
        break;
      case Form::Float:
        ini_.WriteString(section_, name, FormatSettingFloat(value.number));
        break;
      case Form::Text:
        ini_.WriteString(section_, name, value.text);
        break;
    }
  }

  void Delete(const std::string& name) override { ini_.DeleteKey(section_, name); }

  bool Finish() override {
    const bool ok = !ini_.Modified() || ini_.SaveToFile(file_);
    lock_.Unlock();
    return ok;
  }

 private:
  std::string file_;
  std::string prefix_;
  platform::NamedLock lock_;
  TIniFile ini_;
  std::string section_;
};

class TWreg::CustomStore final : public TWreg::Store {
 public:
  explicit CustomStore(TWreg& owner) : owner_(owner) {}
  bool Select(const std::string& sub_path, bool, int index) override {
    sub_path_ = sub_path;
    index_ = index;
    return true;
  }
  bool Read(const std::string& name, TTypeKind, Form form, TStoredValue* value) override {
    value->form = form;
    return owner_.DoCustomRead(sub_path_, name, index_, value);
  }
  void Write(const std::string& name, const TStoredValue& value) override {
    owner_.DoCustomWrite(sub_path_, name, index_, value);
  }
  void Delete(const std::string& name) override {
    TStoredValue empty;
    owner_.DoCustomWrite(sub_path_, name, index_, empty);
  }

 private:
  TWreg& owner_;
  std::string sub_path_;
  int index_ = 0;
};

// ---------------------------------------------------------------------------
// Property values

namespace {

// The stored form of a property value; false when the value is empty (the
// stored value is then deleted).
bool ToStored(const TPropValue& v, TTypeKind kind, const TPropInfo* prop, Form form,
              TWreg::TStoredValue* out) {
  out->form = form;
  if (std::holds_alternative<std::monostate>(v)) return false;
  switch (form) {
    case Form::Integer:
      out->integer = PropAsInt(v);
      return true;
    case Form::Float:
      out->number = PropAsFloat(v);
      return true;
    case Form::Text:
      break;
  }
  if (IsTextKind(kind)) {
    out->text = EncodeSettingText(PropAsText(v));
  } else if (kind == TTypeKind::tkEnumeration) {
    const int64_t ord = PropAsInt(v);
    if (prop && prop->EnumNames && ord >= 0 && ord < prop->EnumCount) {
      out->text = prop->EnumNames[ord];
    } else {
      out->text = std::to_string(ord);
    }
  } else if (kind == TTypeKind::tkClass) {
    const auto* obj = std::get_if<TPersistent*>(&v);
    if (!obj || !*obj) return false;
    if (const auto* list = dynamic_cast<const TStrings*>(*obj)) {
      out->text = EncodeSettingText(list->Text());
    } else if (const auto* c = dynamic_cast<const TComponent*>(*obj)) {
      out->text = c->Owner() ? c->Owner()->Name() + "." + c->Name() : c->Name();
    } else {
      throw EConvertError("Unsupported property value");
    }
  } else {
    out->text = VariantText(v);
  }
  return !out->text.empty();
}

// Sets the property from a stored value as the kind wants it.
void SetFromStored(TPersistent* root, const TResolvedProperty& r, TTypeKind kind,
                   const TWreg::TStoredValue& sv) {
  const TPropInfo* p = r.Property;
  switch (sv.form) {
    case Form::Integer:
      p->Set(*r.Object, TPropValue{sv.integer});
      return;
    case Form::Float:
      p->Set(*r.Object, TPropValue{sv.number});
      return;
    case Form::Text:
      break;
  }
  if (IsTextKind(kind)) {
    p->Set(*r.Object, TPropValue{DecodeSettingText(sv.text)});
  } else if (kind == TTypeKind::tkEnumeration) {
    const std::string_view t = TrimControls(sv.text);
    if (t.empty()) return;
    for (int i = 0; p->EnumNames && i < p->EnumCount; ++i) {
      if (platform::SameTextAscii(p->EnumNames[i], t)) {
        p->Set(*r.Object, TPropValue{int64_t{i}});
        return;
      }
    }
    throw EConvertError("'" + std::string(t) + "' is not a valid enumeration value");
  } else if (kind == TTypeKind::tkClass) {
    const TPropValue cur = p->Get ? p->Get(*r.Object) : TPropValue{};
    const auto* obj = std::get_if<TPersistent*>(&cur);
    if (obj && *obj) {
      if (auto* list = dynamic_cast<TStrings*>(*obj)) {
        list->SetText(DecodeSettingText(sv.text));
        return;
      }
    }
    if (!p->Set) return;
    TComponent* c = FindQualified(root, sv.text);
    if (!c) throw EConvertError("Component '" + sv.text + "' not found");
    p->Set(*r.Object, TPropValue{static_cast<TPersistent*>(c)});
  } else {
    p->Set(*r.Object, TPropValue{sv.text});
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TWreg

void TWreg::DoSetValue(const std::string& name, int index, const TPropValue& value) {
  if (!SetValue) return;
  if (const auto* s = std::get_if<std::string>(&value)) {
    SetValue(*this, name, index, TPropValue{DecodeSettingText(*s)});
  } else {
    SetValue(*this, name, index, value);
  }
}

void TWreg::DoGetValue(const std::string& name, int index, TPropValue& value) {
  if (GetValue) GetValue(*this, name, index, value);
  if (auto* s = std::get_if<std::string>(&value)) *s = EncodeSettingText(*s);
}

void TWreg::DoCustomWrite(const std::string&, const std::string&, int, const TStoredValue&) {}

bool TWreg::DoCustomRead(const std::string&, const std::string&, int, TStoredValue*) {
  return false;
}

void TWreg::DoBeforeProcessItem(const std::string& name, int index, bool& is_require_processing,
                                bool& is_virtual, TTypeKind& item_type) {
  if (BeforeProcessItem)
    BeforeProcessItem(*this, name, index, is_require_processing, is_virtual, item_type);
}

bool TWreg::Load(TPersistent* root) {
  return Pass(root, false);
}
bool TWreg::Save(TPersistent* root) {
  return Pass(root, true);
}

// One item line ready for the store: what it names and how it is kept.
struct TWreg::Line {
  TWregItem item;
  int index = 0;
  TResolvedProperty target;
  TTypeKind kind = TTypeKind::tkUnknown;
  Form form = Form::Text;
  // Handled through the value events rather than a property.
  bool is_virtual = false;
};

std::unique_ptr<TWreg::Store> TWreg::OpenStore(bool save) {
  if (INIFile == "$CUSTOM$") return std::make_unique<CustomStore>(*this);
  // Loading from an INI file that does not exist reads the registry instead.
  if (!INIFile.empty() && (save || platform::FileExists(INIFile))) {
    auto ini = std::make_unique<IniStore>(INIFile, INIFileSectionPrefix);
    if (!ini->Open()) return nullptr;
    return ini;
  }
  for (const uint8_t root_no : {RegistryRoot, SecondRegistryRoot}) {
    const auto key = RootKey(root_no);
    if (!key || !platform::RegistryKey::Open(*key, RegistryPath, save)) continue;
    opened_root_ = root_no;
    return std::make_unique<RegistryStore>(*key, RegistryPath);
  }
  return nullptr;
}

bool TWreg::PrepareLine(TPersistent* root, bool save, Line* line) {
  const TResolvedProperty& r = line->target = ResolvePropertyPath(root, line->item.PropertyPath);
  bool require = r.Property != nullptr;
  line->is_virtual = !require;
  line->kind = r.Kind();
  DoBeforeProcessItem(line->item.PropertyPath, line->index, require, line->is_virtual, line->kind);
  // Lines for custom value handlers ("*") are not supported and skipped.
  if (!require || line->kind == TTypeKind::tkUnknown || !FormOf(line->kind, &line->form))
    return false;
  if (line->is_virtual) return true;
  if (!r.Property) return false;
  if (!save && !r.Property->Set && line->kind != TTypeKind::tkClass) return false;
  if (save && !r.Property->Get) return false;
  return true;
}

void TWreg::SaveLine(Store& store, const Line& line) {
  const std::string& name = line.item.ValueName;
  TPropValue v;
  if (line.is_virtual)
    DoGetValue(line.item.PropertyPath, line.index, v);
  else
    v = line.target.Property->Get(*line.target.Object);
  TStoredValue sv;
  try {
    bool has;
    if (line.is_virtual && IsTextKind(line.kind)) {
      // DoGetValue has encoded the text already.
      sv.form = line.form;
      sv.text = PropAsText(v);
      has = !sv.text.empty();
    } else {
      has = ToStored(v, line.kind, line.target.Property, line.form, &sv);
    }
    if (has)
      store.Write(name, sv);
    else
      store.Delete(name);
  } catch (const std::exception&) {
    store.Discard(name);
  }
}

bool TWreg::LoadLine(Store& store, TPersistent* root, const Line& line) {
  const std::string& name = line.item.ValueName;
  bool found = false;
  try {
    TStoredValue sv;
    if (!store.Read(name, line.kind, line.form, &sv)) return false;
    found = true;
    if (!line.is_virtual) {
      SetFromStored(root, line.target, line.kind, sv);
    } else if (sv.form == Form::Integer) {
      DoSetValue(line.item.PropertyPath, line.index, TPropValue{sv.integer});
    } else if (sv.form == Form::Float) {
      DoSetValue(line.item.PropertyPath, line.index, TPropValue{sv.number});
    } else {
      DoSetValue(line.item.PropertyPath, line.index, TPropValue{sv.text});
    }
  } catch (const std::exception&) {
    store.Discard(name);
  }
  return found;
}

bool TWreg::Pass(TPersistent* root, bool save) {
  // The root is the pass's own: it is forgotten however the pass ends.
  struct RootScope {
    TPersistent*& slot;
    ~RootScope() { slot = nullptr; }
  } scope{root_};
  root_ = root;
  opened_root_ = rrNone;
  try {
    const std::unique_ptr<Store> store = OpenStore(save);
    if (!store) return false;
    bool result = false;
    const std::vector<std::string> lines = Components.Items();
    for (size_t n = 0; n < lines.size(); ++n) {
      Line line;
      line.index = static_cast<int>(n);
      if (!ParseWregItem(lines[n], &line.item)) continue;
      try {
        if (!PrepareLine(root, save, &line)) continue;
        if (!store->Select(line.item.SubPath, save, line.index)) continue;
        if (save) {
          SaveLine(*store, line);
          result = true;  // the value was had, whether or not the store kept it
        } else if (LoadLine(*store, root, line)) {
          result = true;
        }
      } catch (const std::exception&) {
        // The line is skipped; the others still count.
      }
    }
    if (!store->Finish()) result = false;
    return result;
  } catch (const std::exception&) {
    return false;
  }
}
