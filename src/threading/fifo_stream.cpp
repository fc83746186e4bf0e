#include "threading/fifo_stream.h"

#include <algorithm>
#include <cstring>

namespace {
// The first block; most frames and partial frames fit in it.
constexpr uint32_t kFirstBlock = 256;
}  // namespace

TFIFOStream::TFIFOStream(uint32_t capacity, uint32_t discard_step, bool auto_discard)
    : TThreadGuarded<uint8_t>(nullptr),
      capacity_(capacity),
      discard_step_(discard_step),
      auto_discard_(auto_discard) {
  Guarded = nullptr;
}

TFIFOStream::~TFIFOStream() {
  LockWrite();
  Release();
  UnlockWrite();
}

void TFIFOStream::Clear() {
  auto w = WriteLocked();
  Release();
}

void TFIFOStream::Consume(uint32_t n) {
  if (!auto_discard_) return;
  auto w = WriteLocked();
  Discard(n);
}

void TFIFOStream::Discard(uint32_t n) {
  const uint32_t count = Count();
  n = std::min(n, count);
  if (n == 0) return;
  if (n == count) {
    Release();
    return;
  }
  std::memmove(Storage.get(), Storage.get() + n, count - n);
  count_.store(count - n, std::memory_order_release);
}

void TFIFOStream::Release() {
  Storage.reset();
  allocated_ = 0;
  count_.store(0, std::memory_order_release);
  Guarded = nullptr;
}

void TFIFOStream::Reserve(uint32_t needed) {
  if (needed <= allocated_) return;
  // Doubling keeps a buffer that fills slowly from copying often.
  uint32_t size = allocated_ > capacity_ / 2 ? capacity_ : std::max(allocated_ * 2, kFirstBlock);
  size = std::min(std::max(size, needed), capacity_);
  std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
  const uint32_t count = Count();
  if (count > 0) std::memcpy(block.get(), Storage.get(), count);
  Storage = std::move(block);
  allocated_ = size;
  Guarded = Storage.get();
}

void TFIFOStream::Write(const void* data, uint32_t length) {
  if (length == 0) return;
  auto w = WriteLocked();
  const auto* bytes = static_cast<const uint8_t*>(data);
  const uint32_t free = FreeSpace();
  if (length > free) {
    if (!auto_discard_) throw EFIFOStream("Buffer over-run.");
    if (length >= capacity_) {
      // Only the newest Capacity bytes can stay.
      bytes += length - capacity_;
      length = capacity_;
      count_.store(0, std::memory_order_release);
    } else {
      Discard(std::max(length - free, discard_step_));
    }
  }
  if (length == 0) return;
  const uint32_t count = Count();
  Reserve(count + length);
  std::memmove(Storage.get() + count, bytes, length);
  count_.store(count + length, std::memory_order_release);
}
