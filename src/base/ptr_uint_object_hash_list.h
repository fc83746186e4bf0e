#pragma once
// Objects under pointer-sized unsigned keys; owns its objects. Keys are
// unique: adding under a key in use first removes (and frees) the old entry.
// Entries are visited in ascending key order. Not locked:
// TThreadPtrUIntObjectHashList guards one.
#include <cstdint>
#include <map>
#include <memory>

template <class T>
class TqonPtrUIntObjectHashList {
 public:
  using Key = uintptr_t;
  using Map = std::map<Key, std::unique_ptr<T>>;
  using const_iterator = typename Map::const_iterator;

  TqonPtrUIntObjectHashList() = default;
  TqonPtrUIntObjectHashList(const TqonPtrUIntObjectHashList&) = delete;
  TqonPtrUIntObjectHashList& operator=(const TqonPtrUIntObjectHashList&) = delete;

  int Count() const { return static_cast<int>(map_.size()); }
  bool Empty() const { return map_.empty(); }

  // Returns the object, now owned by the list.
  T* Add(Key key, std::unique_ptr<T> object) {
    Remove(key);
    T* added = object.get();
    map_.emplace(key, std::move(object));
    return added;
  }
  // Frees the object; false when the key is not there.
  bool Remove(Key key) { return Extract(key) != nullptr; }
  // Takes the object out without freeing it.
  std::unique_ptr<T> Extract(Key key) {
    auto it = map_.find(key);
    if (it == map_.end()) return nullptr;
    std::unique_ptr<T> object = std::move(it->second);
    map_.erase(it);
    return object;
  }
  T* Find(Key key) const {
    auto it = map_.find(key);
    return it == map_.end() ? nullptr : it->second.get();
  }
  // handler(key, object, stop) for every entry until it sets stop. The
  // handler must not add or remove entries.
  template <class F>
  void ForEach(F&& handler) const {
    bool stop = false;
    for (const auto& [key, object] : map_) {
      handler(key, object.get(), stop);
      if (stop) break;
    }
  }
  void Clear() {
    Map map;
    map.swap(map_);
  }

  const_iterator begin() const { return map_.begin(); }
  const_iterator end() const { return map_.end(); }

 private:
  Map map_;
};
