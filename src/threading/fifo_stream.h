#pragma once
// A bounded byte buffer: bytes are appended at the end and taken from the
// front. The stored bytes always start at the beginning of the storage block,
// so a reader parses them in place:
//
//   auto w = fifo.WriteLocked();          // w.get(): the first stored byte
//   size_t n = Parse(w.get(), fifo.Count());
//   fifo.Consume(n);                       // the writer may lock again
//
// With AutoDiscard a write that does not fit discards the oldest bytes, at
// least DiscardStep of them; Count() never exceeds Capacity.
//
// The storage is allocated by the first write, grows with the bytes stored
// (up to Capacity) and is given back whenever the buffer becomes empty, so an
// idle buffer costs no storage. The pointer to the first byte therefore
// changes with Write, Clear and a Consume that empties the buffer: read it
// again (Data(), or a new lock) after those.
#include <atomic>
#include <cstdint>
#include <memory>

#include "base/errors.h"
#include "threading/thread_object.h"

class EFIFOStream : public EqonError {
 public:
  using EqonError::EqonError;
};

class TFIFOStream : public TThreadGuarded<uint8_t> {
 public:
  TFIFOStream(uint32_t capacity, uint32_t discard_step, bool auto_discard);
  ~TFIFOStream() override;

  uint32_t Capacity() const { return capacity_; }
  // Bytes of storage held now (0 while empty).
  uint32_t Allocated() const { return allocated_; }
  // The first stored byte (null while empty); the caller holds a lock.
  uint8_t* Data() const { return Storage.get(); }
  uint32_t DiscardStep() const { return discard_step_; }
  bool AutoDiscard() const { return auto_discard_; }

  // Bytes stored, without a lock: a snapshot, as any answer is once the
  // lock is let go. Bytes counted were stored before they are counted.
  uint32_t Count() const { return count_.load(std::memory_order_acquire); }
  uint32_t FreeSpace() const { return capacity_ - Count(); }
  void Clear();
  // Removes n bytes (at most Count()) from the front. Only with AutoDiscard;
  // otherwise it does nothing.
  void Consume(uint32_t n);
  // Appends the bytes. Without AutoDiscard a write that does not fit raises
  // EFIFOStream "Buffer over-run." and stores nothing. With it, a write of
  // Capacity bytes or more leaves its last Capacity bytes; a shorter one
  // first discards min(Count, max(length - FreeSpace, DiscardStep)) bytes.
  void Write(const void* data, uint32_t length);

 private:
  void Discard(uint32_t n);
  // Makes room for `needed` bytes (at most Capacity), keeping what is stored.
  void Reserve(uint32_t needed);
  void Release();

  std::unique_ptr<uint8_t[]> Storage;  // null while empty
  uint32_t allocated_ = 0;
  uint32_t capacity_;
  uint32_t discard_step_;
  // Bytes stored (they start at Storage); changed under the write lock.
  std::atomic<uint32_t> count_{0};
  bool auto_discard_;
};
