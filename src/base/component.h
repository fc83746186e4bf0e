#pragma once
// A small component model in place of the host framework's run-time type
// information: objects publish a table of properties (name, type kind,
// getter, setter), and components have a name, a tag, an owner and the
// components they own. The settings store resolves property paths through it
// and the translator walks it.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The property type kinds, in the host framework's order.
enum class TTypeKind : uint8_t {
  tkUnknown,
  tkInteger,
  tkChar,
  tkEnumeration,
  tkFloat,
  tkString,
  tkSet,
  tkClass,
  tkMethod,
  tkWChar,
  tkLString,
  tkWString,
  tkVariant,
  tkArray,
  tkRecord,
  tkInterface,
  tkInt64,
  tkDynArray,
};

class TPersistent;
class TComponent;

// A property value: integers and enumeration ordinals as int64_t, floats as
// double, texts (ANSI) as std::string, object references as TPersistent*.
using TPropValue = std::variant<std::monostate, int64_t, double, std::string, TPersistent*>;

struct TPropInfo {
  const char* Name;
  TTypeKind Kind;
  TPropValue (*Get)(const TPersistent& self);
  // nullptr: the property cannot be set.
  void (*Set)(TPersistent& self, const TPropValue& value);
  // Enumerations: the value names by ordinal (booleans: "False", "True").
  const char* const* EnumNames = nullptr;
  int EnumCount = 0;
};

extern const char* const kBooleanNames[2];

class TPersistent {
 public:
  virtual ~TPersistent() = default;
  virtual const char* ClassName() const = 0;
  // Published properties, the base class's first.
  virtual std::span<const TPropInfo> PublishedProperties() const { return {}; }
  // By name, without regard to ASCII letter case; nullptr when unknown.
  const TPropInfo* FindProperty(std::string_view name) const;

  // Copies source into this object; by default asks the source (AssignTo).
  virtual void Assign(const TPersistent& source);
  // Raises EConvertError "Cannot assign a <class> to a <class>" by default.
  virtual void AssignTo(TPersistent& dest) const;
};

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const char* ClassName() const override { return "TComponent"; }
  std::span<const TPropInfo> PublishedProperties() const override;
  static std::span<const TPropInfo> ComponentProperties();

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }

  // Owned components in the order they were created.
  size_t ComponentCount() const { return components_.size(); }
  TComponent* Components(size_t index) const { return components_[index]; }
  // Among the owned components, by name without regard to ASCII case.
  TComponent* FindComponent(std::string_view name) const;

  // Makes a component that this one owns and frees with itself.
  template <class T, class... Args>
  T& CreateOwned(Args&&... args) {
    auto p = std::make_unique<T>(this, std::forward<Args>(args)...);
    T& ref = *p;
    owned_.push_back(std::move(p));
    return ref;
  }

  // Right-to-left mode and character set of a language; nothing to do for
  // components without a visual side.
  virtual void ApplyBiDiMode(int /*bidi_mode*/, int /*charset*/) {}

 private:
  TComponent* owner_;
  std::string name_;
  int32_t tag_ = 0;
  std::vector<TComponent*> components_;
  std::vector<std::unique_ptr<TComponent>> owned_;
};

// Helpers for property tables.
template <class T>
const T& PropSelf(const TPersistent& p) {
  return static_cast<const T&>(p);
}
template <class T>
T& PropSelf(TPersistent& p) {
  return static_cast<T&>(p);
}
// The value as a number or text; a value of another kind raises EConvertError.
int64_t PropAsInt(const TPropValue& v);
double PropAsFloat(const TPropValue& v);
std::string PropAsText(const TPropValue& v);

// Base table followed by a class's own entries.
std::vector<TPropInfo> JoinProps(std::span<const TPropInfo> base,
                                 std::initializer_list<TPropInfo> own);
