#include "parser/threading/fifo_stream.h"

#include <algorithm>
#include <cstring>

TFIFOStream::TFIFOStream(uint32_t capacity, uint32_t discard_step, bool auto_discard)
    : TThreadGuarded<uint8_t>(nullptr),
      Storage(std::make_unique<uint8_t[]>(static_cast<size_t>(capacity) * 2 + 1)),
      capacity_(capacity),
      discard_step_(discard_step),
      auto_discard_(auto_discard) {
  Guarded = Storage.get();
}

TFIFOStream::~TFIFOStream() {
  LockWrite();
  WritePos = 0;
  UnlockWrite();
}

uint32_t TFIFOStream::Count() {
  auto r = ReadLocked();
  return WritePos - ReadPos;
}

uint32_t TFIFOStream::FreeSpace() {
  auto r = ReadLocked();
  return capacity_ - (WritePos - ReadPos);
}

void TFIFOStream::Clear() {
  auto w = WriteLocked();
  WritePos = 0;
}

void TFIFOStream::Consume(uint32_t n) {
  if (!auto_discard_) return;
  auto w = WriteLocked();
  Discard(n);
}

void TFIFOStream::Discard(uint32_t n) {
  const uint32_t count = WritePos - ReadPos;
  n = std::min(n, count);
  if (n == 0) return;
  std::memmove(Storage.get(), Storage.get() + n, count - n);
  WritePos = count - n;
}

void TFIFOStream::Write(const void* data, uint32_t length) {
  if (length == 0) return;
  auto w = WriteLocked();
  const auto* bytes = static_cast<const uint8_t*>(data);
  const uint32_t count = WritePos - ReadPos;
  const uint32_t free = capacity_ - count;
  if (length > free) {
    if (!auto_discard_) throw EFIFOStream("Buffer over-run.");
    if (length >= capacity_) {
      // Only the newest Capacity bytes can stay.
      bytes += length - capacity_;
      length = capacity_;
      WritePos = 0;
    } else {
      Discard(std::max(length - free, discard_step_));
    }
  }
  std::memmove(Storage.get() + WritePos, bytes, length);
  WritePos += length;
}
