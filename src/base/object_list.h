#pragma once
// An ordered list of object pointers that owns its objects or not, as its
// constructor says. Not locked: TThreadObjectList guards one.
#include <cstdio>
#include <memory>
#include <vector>

#include "base/errors.h"

template <class T>
class TObjectList {
 public:
  using const_iterator = typename std::vector<T*>::const_iterator;

  explicit TObjectList(bool owns_objects = true) : owns_(owns_objects) {}
  ~TObjectList() { Clear(); }
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;

  bool OwnsObjects() const { return owns_; }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }

  // Unchecked.
  T* operator[](int index) const { return items_[static_cast<size_t>(index)]; }
  // Raises EAssertionFailed for a bad index.
  T* Items(int index) const { return items_[Checked(index)]; }

  // Takes the object over when the list owns its objects. Returns its index.
  int Add(T* object) {
    items_.push_back(object);
    return Count() - 1;
  }
  // Owning lists only (EAssertionFailed otherwise; the object is freed).
  int Add(std::unique_ptr<T> object) {
    if (!owns_) throw EAssertionFailed("The list does not own its objects");
    items_.push_back(object.get());
    object.release();
    return Count() - 1;
  }
  void Insert(int index, T* object) {
    if (index < 0 || index > Count()) OutOfBounds(index);
    items_.insert(items_.begin() + index, object);
  }
  // Removes the entry; frees the object when owning.
  void Delete(int index) {
    T* object = items_[Checked(index)];
    items_.erase(items_.begin() + index);
    Free(object);
  }
  // Removes the first entry of the object (freeing it when owning); its
  // former index, or -1.
  int Remove(T* object) {
    const int index = IndexOf(object);
    if (index >= 0) Delete(index);
    return index;
  }
  // Takes the object out without freeing it; null when not in the list.
  T* Extract(T* object) {
    const int index = IndexOf(object);
    if (index < 0) return nullptr;
    items_.erase(items_.begin() + index);
    return object;
  }
  int IndexOf(const T* object) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i] == object) return static_cast<int>(i);
    return -1;
  }
  // Empties the list; frees the objects when owning.
  void Clear() {
    std::vector<T*> items;
    items.swap(items_);
    for (T* object : items)
      Free(object);
  }

  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

 private:
  size_t Checked(int index) const {
    if (index < 0 || index >= Count()) OutOfBounds(index);
    return static_cast<size_t>(index);
  }
  [[noreturn]] static void OutOfBounds(int index) {
    char text[48];
    std::snprintf(text, sizeof(text), "List index out of bounds (%d)", index);
    throw EAssertionFailed(text);
  }
  void Free(T* object) {
    if (owns_) std::default_delete<T>()(object);
  }

  std::vector<T*> items_;
  bool owns_;
};
