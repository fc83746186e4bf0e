#pragma once
// The kind-4 text blocks AppendResult leaves in a call record's Input. They
// belong to the library: a host reads one after its call and never frees it,
// so each is kept until the record's next data call (or, for hosts that use
// a new record every time, until enough later ones have come).
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

struct TPluginCallRec;

class TResultTextBlocks {
 public:
  static constexpr size_t kMaxBlocks = 64;

  TResultTextBlocks() = default;
  ~TResultTextBlocks() { Clear(); }
  TResultTextBlocks(const TResultTextBlocks&) = delete;
  TResultTextBlocks& operator=(const TResultTextBlocks&) = delete;

  // The record's block, no longer kept; null when it has none.
  void* Take(const TPluginCallRec* rec);
  void* Get(const TPluginCallRec* rec) const;
  // Keeps block for rec (replacing the pointer, not freeing it).
  void Set(const TPluginCallRec* rec, void* block);
  size_t Count() const;
  // Frees every block.
  void Clear();

 private:
  mutable std::mutex lock_;
  std::vector<std::pair<const TPluginCallRec*, void*>> blocks_;
};
