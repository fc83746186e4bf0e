#pragma once
// The timers of one thread's message loop: found by (owner, id) in constant
// time, and kept in a heap by due time, so that thousands of timers cost a
// logarithm per tick rather than a pass over all of them. Heap entries go
// stale when their timer is reset or killed; they are dropped when they come
// to the top. Not locked: the loop guards it with its queue's mutex.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace platform {

// Owner: what a timer belongs to (a window). The table holds a reference to
// it while the timer exists, so that a timer collected as due still reaches
// it after its other holders let go.
template <class Owner>
class TimerTable {
 public:
  using OwnerPtr = std::shared_ptr<Owner>;

  struct Timer {
    OwnerPtr owner;
    uint32_t period = 0;
    uint64_t due = 0;
    uint64_t seq = 0;   // changes with every Set; breaks ties between equal due times
    uint64_t base = 0;  // its last tick or setting: the period boundaries count from here
    uint32_t gen = 0;   // of its current heap entry; older ones are stale
  };

  // A timer collected as due; seq tells whether it is still the same setting.
  struct Due {
    OwnerPtr owner;
    uintptr_t id;
    uint64_t due;
    uint64_t seq;
  };

  size_t Size() const { return timers_.size(); }

  // (Re)starts timer `id` of the owner: first due a period after now.
  // Returns that due time. The period is above 0 (the loop raises shorter
  // ones to its minimum).
  uint64_t Set(const OwnerPtr& owner, uintptr_t id, uint32_t period, uint64_t now) {
    const Key key{owner.get(), id};
    const uint64_t due = now + period;
    const uint64_t seq = ++next_seq_;
    auto [it, added] = timers_.try_emplace(key);
    const uint32_t gen = it->second.gen;
    it->second = Timer{owner, period, due, seq, now, gen};
    if (added) ids_[owner.get()].push_back(id);
    Push(key, it->second);
    return due;
  }

  // False when there was no such timer.
  bool Kill(const Owner* owner, uintptr_t id) {
    if (timers_.erase(Key{owner, id}) == 0) return false;
    auto it = ids_.find(owner);
    std::vector<uintptr_t>& ids = it->second;
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
    if (ids.empty()) ids_.erase(it);
    return true;
  }

  // The timers of an owner go with it; as they refer back to it, their
  // references are handed to the caller to drop outside its lock.
  void RemoveOwner(const Owner* owner, std::vector<OwnerPtr>* keep) {
    auto it = ids_.find(owner);
    if (it == ids_.end()) return;
    for (uintptr_t id : it->second) {
      auto t = timers_.find(Key{owner, id});
      keep->push_back(std::move(t->second.owner));
      timers_.erase(t);
    }
    ids_.erase(it);
  }

  // Appends every timer due at `now`, in due order (ties: the timer set first).
  // Each stays due until Rearm.
  void CollectDue(uint64_t now, std::vector<Due>* due) {
    while (!heap_.empty() && heap_.front().due <= now) {
      const Entry e = PopTop();
      if (const Timer* t = Current(e)) due->push_back({t->owner, e.key.id, e.due, e.seq});
    }
  }

  // Re-arms a collected timer; false when it must not fire: it was killed
  // or reset since (a handler earlier in the pass may have done so), or it
  // has ticked for this due time already (in a pass that a handler ran by
  // pumping messages, which can collect it again after a heap rebuild).
  bool Rearm(const Due& d, uint64_t now) {
    auto it = timers_.find(Key{d.owner.get(), d.id});
    if (it == timers_.end() || it->second.seq != d.seq) return false;
    // A tick sets base to its time; periods are never 0, so before its tick
    // for d.due a timer's base is earlier than d.due.
    if (it->second.base >= d.due) return false;
    // Like the system's timers: no catching up, the next tick is a period after this one.
    it->second.due = now + it->second.period;
    it->second.base = now;
    Push(it->first, it->second);
    return true;
  }

  // The timer's setting; null when there is none.
  const Timer* Find(const Owner* owner, uintptr_t id) const {
    auto it = timers_.find(Key{owner, id});
    return it == timers_.end() ? nullptr : &it->second;
  }

  // Moves the timer's next tick to `due`; its period and its place among
  // timers due at the same time stay.
  void MoveDue(const Owner* owner, uintptr_t id, uint64_t due) {
    auto it = timers_.find(Key{owner, id});
    if (it == timers_.end() || it->second.due == due) return;
    it->second.due = due;
    Push(it->first, it->second);
  }

  // When the first timer is due (UINT64_MAX when none).
  uint64_t Next() {
    while (!heap_.empty()) {
      const Entry& top = heap_.front();
      if (Current(top)) return top.due;
      PopTop();
    }
    return UINT64_MAX;
  }

  // Milliseconds from now until the first timer is due: 0 when one is
  // overdue, UINT64_MAX when there is none.
  uint64_t Until(uint64_t now) {
    const uint64_t next = Next();
    return next == UINT64_MAX ? next : (next > now ? next - now : 0);
  }

 private:
  struct Key {
    const Owner* owner;
    uintptr_t id;
    bool operator==(const Key& o) const { return owner == o.owner && id == o.id; }
  };
  struct KeyHash {
    size_t operator()(const Key& k) const {
      return std::hash<const void*>()(k.owner) ^ (std::hash<uintptr_t>()(k.id) * 31u);
    }
  };
  struct Entry {
    uint64_t due;
    uint64_t seq;
    uint32_t gen;
    Key key;
  };
  static bool Later(const Entry& a, const Entry& b) {
    return a.due != b.due ? a.due > b.due : a.seq > b.seq;
  }

  // The timer an entry stands for, unless the entry went stale.
  const Timer* Current(const Entry& e) const {
    auto it = timers_.find(e.key);
    if (it == timers_.end() || it->second.seq != e.seq || it->second.gen != e.gen) return nullptr;
    return &it->second;
  }

  void Push(const Key& key, Timer& timer) {
    ++timer.gen;
    // Many resets leave many stale entries: rebuild before they outgrow the timers.
    if (heap_.size() > 2 * timers_.size() + 64) {
      std::vector<Entry> live;
      live.reserve(timers_.size() + 1);
      for (const auto& [k, t] : timers_)
        if (!(k == key)) live.push_back({t.due, t.seq, t.gen, k});
      heap_.swap(live);
      std::make_heap(heap_.begin(), heap_.end(), Later);
    }
    heap_.push_back({timer.due, timer.seq, timer.gen, key});
    std::push_heap(heap_.begin(), heap_.end(), Later);
  }

  Entry PopTop() {
    std::pop_heap(heap_.begin(), heap_.end(), Later);
    const Entry e = heap_.back();
    heap_.pop_back();
    return e;
  }

  std::unordered_map<Key, Timer, KeyHash> timers_;
  // The ids of each owner's timers, so that an owner's end finds them.
  std::unordered_map<const Owner*, std::vector<uintptr_t>> ids_;
  std::vector<Entry> heap_;
  uint64_t next_seq_ = 0;
};

}  // namespace platform
