#include "plugin/result_text_blocks.h"

#include <cstdlib>

void* TResultTextBlocks::Take(const TPluginCallRec* rec) {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
    if (it->first == rec) {
      void* block = it->second;
      blocks_.erase(it);
      return block;
    }
  }
  return nullptr;
}

void* TResultTextBlocks::Get(const TPluginCallRec* rec) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& entry : blocks_)
    if (entry.first == rec) return entry.second;
  return nullptr;
}

void TResultTextBlocks::Set(const TPluginCallRec* rec, void* block) {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& entry : blocks_) {
    if (entry.first == rec) {
      entry.second = block;
      return;
    }
  }
  // A host that uses a new record for every call never brings the old ones
  // back; it has read their texts long before this many later results.
  if (blocks_.size() >= kMaxBlocks) {
    std::free(blocks_.front().second);
    blocks_.erase(blocks_.begin());
  }
  blocks_.emplace_back(rec, block);
}

size_t TResultTextBlocks::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return blocks_.size();
}

void TResultTextBlocks::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& [rec, block] : blocks_)
    std::free(block);
  blocks_.clear();
}
