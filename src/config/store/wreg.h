#pragma once
// Moves property values between an object and the settings store (the
// registry or an INI file), one "property path,value path" line at a time.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/component.h"
#include "config/text/strings.h"

enum TRegistryRoot : uint8_t {
  rrHKEY_CLASSES_ROOT,
  rrHKEY_CURRENT_USER,
  rrHKEY_LOCAL_MACHINE,
  rrHKEY_USERS,
  rrHKEY_CURRENT_CONFIG,
  rrNone,
};

class TWreg : public TComponent {
 public:
  // Value events carry the property value (texts decoded as on load).
  using TSetValueProc = std::function<void(TWreg& sender, const std::string& Name, int Index,
                                           const TPropValue& Value)>;
  using TGetValueProc =
      std::function<void(TWreg& sender, const std::string& Name, int Index, TPropValue& Value)>;
  using TBeforeProcessItemProc =
      std::function<void(TWreg& sender, const std::string& Name, int Index,
                         bool& IsRequireProcessing, bool& IsVirtual, TTypeKind& ItemType)>;

  using TComponent::TComponent;
  const char* ClassName() const override { return "TWreg"; }

  // Any value other than the five roots opens nothing.
  uint8_t RegistryRoot = rrHKEY_LOCAL_MACHINE;
  uint8_t SecondRegistryRoot = rrHKEY_CURRENT_USER;
  std::string RegistryPath = "\\Software\\Company name\\App name";
  // An INI file name, "$CUSTOM$" for the custom store, or empty for the registry.
  std::string INIFile;
  std::string INIFileSectionPrefix;
  TStrings Components;

  TSetValueProc SetValue;
  TGetValueProc GetValue;
  TBeforeProcessItemProc BeforeProcessItem;

  // True when at least one value was found. Never raises.
  bool Load(TPersistent* root);
  // True when at least one line was processed. Never raises.
  bool Save(TPersistent* root);

  // The registry root that the current pass opened (rrNone when none).
  uint8_t OpenedRoot() const { return opened_root_; }
  TPersistent* RootObject() const { return root_; }

  // A stored value as read or to be written.
  struct TStoredValue {
    enum class Form { Integer, Float, Text } form = Form::Text;
    int64_t integer = 0;
    double number = 0;
    std::string text;
  };

 protected:
  virtual void DoSetValue(const std::string& name, int index, const TPropValue& value);
  virtual void DoGetValue(const std::string& name, int index, TPropValue& value);
  // The custom store ("$CUSTOM$"): nothing is written, nothing read.
  virtual void DoCustomWrite(const std::string& sub_path, const std::string& value_name, int index,
                             const TStoredValue& value);
  virtual bool DoCustomRead(const std::string& sub_path, const std::string& value_name, int index,
                            TStoredValue* value);
  virtual void DoBeforeProcessItem(const std::string& name, int index, bool& is_require_processing,
                                   bool& is_virtual, TTypeKind& item_type);

 private:
  class Store;
  class RegistryStore;
  class IniStore;
  class CustomStore;
  struct Line;

  // A load or save: the store first, then the item lines one by one.
  bool Pass(TPersistent* root, bool save);
  // Where the values go: the custom store, the INI file, or the first
  // registry root that opens; null when none can be had.
  std::unique_ptr<Store> OpenStore(bool save);
  // Resolves a parsed line's property and asks BeforeProcessItem; false
  // when the line is not to be processed.
  bool PrepareLine(TPersistent* root, bool save, Line* line);
  // Raise when the value cannot be had; a value the store refuses is skipped.
  void SaveLine(Store& store, const Line& line);
  // True when the store held the value (even if the property refused it).
  bool LoadLine(Store& store, TPersistent* root, const Line& line);

  TPersistent* root_ = nullptr;
  uint8_t opened_root_ = rrNone;
};

// Where a property path leads: the object and its property (nullptr when the
// path does not resolve).
struct TResolvedProperty {
  TPersistent* Object = nullptr;
  const TPropInfo* Property = nullptr;
  TTypeKind Kind() const { return Property ? Property->Kind : TTypeKind::tkUnknown; }
};
TResolvedProperty ResolvePropertyPath(TPersistent* root, const std::string& path);

// One item line split up; false when the line is to be skipped (comment,
// empty, no property or no value path).
struct TWregItem {
  std::string PropertyPath;
  std::string SubPath;
  std::string ValueName;
};
bool ParseWregItem(const std::string& line, TWregItem* item);

// The INI section of a sub-path under a section prefix.
std::string WregIniSection(const std::string& prefix, const std::string& sub_path);
// The name of the inter-process lock of an INI file.
std::string WregLockName(const std::string& ini_file);
