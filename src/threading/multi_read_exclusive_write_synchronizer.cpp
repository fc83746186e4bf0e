#include "threading/multi_read_exclusive_write_synchronizer.h"

#include <algorithm>

#include "platform/thread.h"

TMultiReadExclusiveWriteSynchronizer::Reader* TMultiReadExclusiveWriteSynchronizer::FindReader(
    uint32_t id) {
  for (Reader& r : readers_)
    if (r.thread == id) return &r;
  return nullptr;
}

void TMultiReadExclusiveWriteSynchronizer::DropReader(uint32_t id) {
  auto it = std::find_if(readers_.begin(), readers_.end(),
                         [id](const Reader& r) { return r.thread == id; });
  if (it == readers_.end()) return;
  *it = readers_.back();
  readers_.pop_back();
}

void TMultiReadExclusiveWriteSynchronizer::BeginRead() {
  const uint32_t id = platform::CurrentThreadId();
  std::unique_lock<std::mutex> lock(mutex_);
  if (Reader* r = FindReader(id)) {
    // Already inside: never wait, or a waiting writer would deadlock us.
    ++r->count;
    return;
  }
  if (writer_ == id) {
    // The writer reads too; its share counts once it stops writing.
    readers_.push_back(Reader{id, 1});
    return;
  }
  changed_.wait(lock, [this] { return writer_ == 0 && waiting_writers_ == 0; });
  readers_.push_back(Reader{id, 1});
  ++active_readers_;
}

void TMultiReadExclusiveWriteSynchronizer::EndRead() {
  const uint32_t id = platform::CurrentThreadId();
  std::lock_guard<std::mutex> lock(mutex_);
  Reader* r = FindReader(id);
  if (!r) return;  // not held: nothing to release
  if (--r->count > 0) return;
  DropReader(id);
  if (writer_ == id) return;
  if (--active_readers_ == 0) changed_.notify_all();
}

bool TMultiReadExclusiveWriteSynchronizer::BeginWrite() {
  const uint32_t id = platform::CurrentThreadId();
  std::unique_lock<std::mutex> lock(mutex_);
  if (writer_ == id) {
    ++write_depth_;
    return true;
  }
  const bool promoting = FindReader(id) != nullptr;
  if (promoting && --active_readers_ == 0) changed_.notify_all();
  const uint64_t seen = revision_;
  ++waiting_writers_;
  changed_.wait(lock, [this] { return writer_ == 0 && active_readers_ == 0; });
  --waiting_writers_;
  writer_ = id;
  write_depth_ = 1;
  const bool undisturbed = !promoting || revision_ == seen;
  ++revision_;
  return undisturbed;
}

void TMultiReadExclusiveWriteSynchronizer::EndWrite() {
  const uint32_t id = platform::CurrentThreadId();
  std::lock_guard<std::mutex> lock(mutex_);
  if (writer_ != id) return;  // not held: nothing to release
  if (--write_depth_ > 0) return;
  writer_ = 0;
  // Back to the read share held before the promotion (or taken meanwhile).
  if (FindReader(id)) ++active_readers_;
  changed_.notify_all();
}

bool TMultiReadExclusiveWriteSynchronizer::IsWriter() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writer_ == platform::CurrentThreadId();
}

uint32_t TMultiReadExclusiveWriteSynchronizer::WaitingWriters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_writers_;
}
