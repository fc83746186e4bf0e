#include "base/component.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/errors.h"
#include "platform/strings.h"

const char* const kBooleanNames[2] = {"False", "True"};

const TPropInfo* TPersistent::FindProperty(std::string_view name) const {
  for (const auto& p : PublishedProperties()) {
    if (platform::SameTextAscii(p.Name, name)) return &p;
  }
  return nullptr;
}

void TPersistent::Assign(const TPersistent& source) {
  source.AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& dest) const {
  throw EConvertError(std::string("Cannot assign a ") + ClassName() + " to a " + dest.ClassName());
}

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  while (!owned_.empty()) {
    auto last = std::move(owned_.back());
    owned_.pop_back();
  }
  // Components owned from outside outlive the link, not the other way round.
  for (TComponent* c : components_)
    c->owner_ = nullptr;
  components_.clear();
  if (owner_) {
    auto& list = owner_->components_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

std::span<const TPropInfo> TComponent::ComponentProperties() {
  static const TPropInfo props[] = {
      {"Name", TTypeKind::tkString,
       [](const TPersistent& s) -> TPropValue { return PropSelf<TComponent>(s).Name(); },
       [](TPersistent& s, const TPropValue& v) { PropSelf<TComponent>(s).SetName(PropAsText(v)); }},
      {"Tag", TTypeKind::tkInteger,
       [](const TPersistent& s) -> TPropValue { return int64_t{PropSelf<TComponent>(s).Tag()}; },
       [](TPersistent& s, const TPropValue& v) {
         PropSelf<TComponent>(s).SetTag(static_cast<int32_t>(PropAsInt(v)));
       }},
  };
  return props;
}

std::span<const TPropInfo> TComponent::PublishedProperties() const {
  return ComponentProperties();
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_) {
    if (platform::SameTextAscii(c->Name(), name)) return c;
  }
  return nullptr;
}

int64_t PropAsInt(const TPropValue& v) {
  if (const auto* i = std::get_if<int64_t>(&v)) return *i;
  if (const auto* d = std::get_if<double>(&v)) {
    if (std::isfinite(*d) && *d >= -9.2e18 && *d <= 9.2e18)
      return static_cast<int64_t>(std::llround(*d));
  }
  throw EConvertError("Invalid variant type conversion");
}

double PropAsFloat(const TPropValue& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  throw EConvertError("Invalid variant type conversion");
}

std::string PropAsText(const TPropValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (std::holds_alternative<std::monostate>(v)) return std::string();
  if (const auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  throw EConvertError("Invalid variant type conversion");
}

std::vector<TPropInfo> JoinProps(std::span<const TPropInfo> base,
                                 std::initializer_list<TPropInfo> own) {
  std::vector<TPropInfo> out(base.begin(), base.end());
  out.insert(out.end(), own.begin(), own.end());
  return out;
}
