#pragma once
// A list of strings, each with an attached value (the "object": a pointer or
// a small number, never owned), and the locked form of it.
//
//   class TLogDataList : public TThreadStringList<uint32_t> { ... };
//   auto w = log.WriteLocked();
//   w->AddObject("text", 0);
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "threading/multi_read_exclusive_write_synchronizer.h"
#include "threading/thread_object.h"

class EStringListError : public EqonError {
 public:
  using EqonError::EqonError;
};

// How a sorted list treats a string it already holds. As usual for string
// lists, an unsorted list accepts every string.
enum class TDuplicates { dupIgnore, dupAccept, dupError };

template <class TObj = void*>
class TStringList {
 public:
  struct Item {
    std::string Text;
    TObj Object{};
  };
  using const_iterator = typename std::vector<Item>::const_iterator;

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const std::string& operator[](int index) const { return items_[Checked(index)].Text; }
  const std::string& Strings(int index) const { return items_[Checked(index)].Text; }
  TObj Objects(int index) const { return items_[Checked(index)].Object; }
  void SetString(int index, std::string text) { items_[Checked(index)].Text = std::move(text); }
  void SetObject(int index, TObj object) { items_[Checked(index)].Object = object; }

  int Add(std::string text) { return AddObject(std::move(text), TObj{}); }
  // The index of the new string; in a sorted list that holds the string
  // already, dupIgnore answers the existing index and dupError raises.
  int AddObject(std::string text, TObj object) {
    if (!sorted_) {
      items_.push_back(Item{std::move(text), object});
      return Count() - 1;
    }
    int index = 0;
    if (Find(text, &index)) {
      if (duplicates_ == TDuplicates::dupIgnore) return index;
      if (duplicates_ == TDuplicates::dupError)
        throw EStringListError("String list does not allow duplicates");
    }
    items_.insert(items_.begin() + index, Item{std::move(text), object});
    return index;
  }
  // Unsorted lists only.
  void Insert(int index, std::string text, TObj object = TObj{}) {
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    if (index < 0 || index > Count()) OutOfBounds(index);
    items_.insert(items_.begin() + index, Item{std::move(text), object});
  }
  void Delete(int index) {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(Checked(index)));
  }
  void Clear() { items_.clear(); }
  // Compared as the list compares (CaseSensitive); -1 when absent.
  int IndexOf(std::string_view text) const {
    if (sorted_) {
      int index = 0;
      return Find(text, &index) ? index : -1;
    }
    for (size_t i = 0; i < items_.size(); ++i)
      if (Compare(items_[i].Text, text) == 0) return static_cast<int>(i);
    return -1;
  }

  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates mode) { duplicates_ = mode; }
  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted) {
    if (sorted && !sorted_)
      std::stable_sort(items_.begin(), items_.end(), [this](const Item& a, const Item& b) {
        return Compare(a.Text, b.Text) < 0;
      });
    sorted_ = sorted;
  }
  // Without it, ASCII letters compare without regard to case.
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool value) { case_sensitive_ = value; }

  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

 private:
  int Compare(std::string_view a, std::string_view b) const {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      auto ca = static_cast<unsigned char>(a[i]);
      auto cb = static_cast<unsigned char>(b[i]);
      if (!case_sensitive_) {
        if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 32);
        if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 32);
      }
      if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
  }
  // Sorted lists: whether the text is there; index: where it is or belongs.
  bool Find(std::string_view text, int* index) const {
    auto it = std::lower_bound(
        items_.begin(), items_.end(), text,
        [this](const Item& item, std::string_view t) { return Compare(item.Text, t) < 0; });
    *index = static_cast<int>(it - items_.begin());
    return it != items_.end() && Compare(it->Text, text) == 0;
  }
  size_t Checked(int index) const {
    if (index < 0 || index >= Count()) OutOfBounds(index);
    return static_cast<size_t>(index);
  }
  [[noreturn]] static void OutOfBounds(int index) {
    char text[48];
    std::snprintf(text, sizeof(text), "List index out of bounds (%d)", index);
    throw EStringListError(text);
  }

  std::vector<Item> items_;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
  bool sorted_ = false;
  bool case_sensitive_ = false;
};

// A TStringList with its own lock, created with the list.
template <class TObj = void*>
class TThreadStringList {
 public:
  using List = TStringList<TObj>;
  using ReadGuard = TReadLocked<TThreadStringList, List>;
  using WriteGuard = TWriteLocked<TThreadStringList, List>;

  TThreadStringList() { Strings.SetDuplicates(TDuplicates::dupIgnore); }
  // Frees the strings under the write lock.
  virtual ~TThreadStringList() {
    Lock.BeginWrite();
    Strings.Clear();
    Lock.EndWrite();
  }
  TThreadStringList(const TThreadStringList&) = delete;
  TThreadStringList& operator=(const TThreadStringList&) = delete;

  List* LockList() { return LockWrite(); }
  void UnlockList() { UnlockWrite(); }
  List* LockWrite(bool* undisturbed = nullptr) {
    const bool clean = Lock.BeginWrite();
    if (undisturbed) *undisturbed = clean;
    return &Strings;
  }
  void UnlockWrite() { Lock.EndWrite(); }
  List* LockRead() {
    Lock.BeginRead();
    return &Strings;
  }
  void UnlockRead() { Lock.EndRead(); }

  [[nodiscard]] ReadGuard ReadLocked() { return ReadGuard(*this, LockRead()); }
  [[nodiscard]] WriteGuard WriteLocked() {
    bool undisturbed = true;
    List* list = LockWrite(&undisturbed);
    return WriteGuard(*this, list, undisturbed);
  }

  int AddObject(std::string text, TObj object) {
    auto w = WriteLocked();
    return w->AddObject(std::move(text), object);
  }
  void Clear() {
    auto w = WriteLocked();
    w->Clear();
  }
  void SetDuplicates(TDuplicates mode) {
    auto w = WriteLocked();
    w->SetDuplicates(mode);
  }
  int Count() {
    auto r = ReadLocked();
    return r->Count();
  }

 protected:
  TMultiReadExclusiveWriteSynchronizer Lock;
  List Strings;
};
