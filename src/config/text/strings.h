#pragma once
// A list of byte strings that can be the value of a published property (a
// string-list property), with the host framework's text form: Text ends
// every line with CR LF; assigning Text splits at CR LF, LF or CR.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"
#include "threading/thread_string_list.h"

class TStrings : public TPersistent {
 public:
  TStrings() = default;
  TStrings(std::initializer_list<std::string> items) : items_(items) {}
  explicit TStrings(std::vector<std::string> items) : items_(std::move(items)) {}
  TStrings(const TStrings& other) : TPersistent(), items_(other.items_) {}
  TStrings& operator=(const TStrings& other);

  const char* ClassName() const override { return "TStrings"; }
  void Assign(const TPersistent& source) override;
  void AssignTo(TPersistent& dest) const override;

  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  const std::string& operator[](size_t i) const { return items_[i]; }
  void Put(size_t i, std::string value);
  const std::vector<std::string>& Items() const { return items_; }

  // Where the string went (sorted lists keep their order); -1 when a
  // duplicate was ignored. A duplicate with dupError raises EqonError.
  int Add(std::string value);
  void Insert(size_t index, std::string value);
  void Delete(size_t index);
  void Clear();
  // Without regard to ASCII letter case; -1 when absent.
  int IndexOf(std::string_view value) const;

  std::string Text() const;
  void SetText(std::string_view text);
  void SetItems(std::vector<std::string> items);

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates d) { duplicates_ = d; }
  size_t Capacity() const { return capacity_ > items_.size() ? capacity_ : items_.size(); }
  void SetCapacity(size_t c);

  // Change notification is held back between the two and given once at the end.
  void BeginUpdate();
  void EndUpdate();

  std::function<void(TStrings&)> OnChange;
  std::function<void(TStrings&)> OnChanging;

 private:
  void Changing();
  void Changed();
  void Sort();

  std::vector<std::string> items_;
  bool sorted_ = false;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
  size_t capacity_ = 0;
  int update_count_ = 0;
  bool changed_in_update_ = false;
};
