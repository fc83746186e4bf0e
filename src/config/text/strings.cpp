#include "config/text/strings.h"

#include <algorithm>

#include "base/errors.h"
#include "platform/strings.h"

namespace {

int CompareText(const std::string& a, const std::string& b) {
  const std::string la = platform::AnsiLowerCase(a), lb = platform::AnsiLowerCase(b);
  return la < lb ? -1 : (la == lb ? 0 : 1);
}

}  // namespace

TStrings& TStrings::operator=(const TStrings& other) {
  if (this != &other) SetItems(other.items_);
  return *this;
}

void TStrings::Assign(const TPersistent& source) {
  if (const auto* list = dynamic_cast<const TStrings*>(&source)) {
    SetItems(list->items_);
    return;
  }
  TPersistent::Assign(source);
}

void TStrings::AssignTo(TPersistent& dest) const {
  if (auto* list = dynamic_cast<TStrings*>(&dest)) {
    list->SetItems(items_);
    return;
  }
  TPersistent::AssignTo(dest);
}

void TStrings::Put(size_t i, std::string value) {
  Changing();
  items_.at(i) = std::move(value);
  Changed();
}

int TStrings::Add(std::string value) {
  if (!sorted_) {
    Changing();
    items_.push_back(std::move(value));
    Changed();
    return static_cast<int>(items_.size()) - 1;
  }
  auto it = std::lower_bound(
      items_.begin(), items_.end(), value,
      [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  if (it != items_.end() && CompareText(*it, value) == 0) {
    if (duplicates_ == TDuplicates::dupIgnore) return -1;
    if (duplicates_ == TDuplicates::dupError)
      throw EqonError("String list does not allow duplicates");
  }
  const auto index = it - items_.begin();
  Changing();
  items_.insert(it, std::move(value));
  Changed();
  return static_cast<int>(index);
}

void TStrings::Insert(size_t index, std::string value) {
  if (sorted_) throw EqonError("Operation not allowed on sorted list");
  if (index > items_.size())
    throw EqonError("List index out of bounds (" + std::to_string(index) + ")");
  Changing();
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
  Changed();
}

void TStrings::Delete(size_t index) {
  if (index >= items_.size())
    throw EqonError("List index out of bounds (" + std::to_string(index) + ")");
  Changing();
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  Changed();
}

void TStrings::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  Changed();
}

int TStrings::IndexOf(std::string_view value) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (platform::SameTextAscii(items_[i], value)) return static_cast<int>(i);
  }
  return -1;
}

std::string TStrings::Text() const {
  std::string out;
  for (const auto& s : items_) {
    out += s;
    out += "\r\n";
  }
  return out;
}

void TStrings::SetText(std::string_view text) {
  std::vector<std::string> items;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != '\r' && text[j] != '\n')
      ++j;
    items.emplace_back(text.substr(i, j - i));
    if (j < text.size() && text[j] == '\r') {
      ++j;
      if (j < text.size() && text[j] == '\n') ++j;
    } else if (j < text.size()) {
      ++j;
    }
    i = j;
  }
  SetItems(std::move(items));
}

void TStrings::SetItems(std::vector<std::string> items) {
  Changing();
  items_ = std::move(items);
  if (sorted_) Sort();
  Changed();
}

void TStrings::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  if (sorted) {
    Changing();
    Sort();
    Changed();
  }
  sorted_ = sorted;
}

void TStrings::SetCapacity(size_t c) {
  capacity_ = c;
  items_.reserve(c);
}

void TStrings::BeginUpdate() {
  ++update_count_;
}

void TStrings::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0 && changed_in_update_) {
    changed_in_update_ = false;
    if (OnChange) OnChange(*this);
  }
}

void TStrings::Changing() {
  if (update_count_ == 0 && OnChanging) OnChanging(*this);
}

void TStrings::Changed() {
  if (update_count_ > 0) {
    changed_in_update_ = true;
    return;
  }
  if (OnChange) OnChange(*this);
}

void TStrings::Sort() {
  std::stable_sort(items_.begin(), items_.end(), [](const std::string& a, const std::string& b) {
    return CompareText(a, b) < 0;
  });
}
