#pragma once
// Many readers or one writer, with the re-entry the containers rely on:
// - a reader may read-lock again, also while a writer waits (no deadlock);
// - the writer may lock again, for writing or reading;
// - a reader may ask for the write lock: while it waits, its read share is
//   suspended, so another writer may run first. BeginWrite then answers
//   false, and data read before the promotion must be read again.
// Waiting writers go before new readers.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class TMultiReadExclusiveWriteSynchronizer {
 public:
  TMultiReadExclusiveWriteSynchronizer() = default;
  TMultiReadExclusiveWriteSynchronizer(const TMultiReadExclusiveWriteSynchronizer&) = delete;
  TMultiReadExclusiveWriteSynchronizer& operator=(const TMultiReadExclusiveWriteSynchronizer&) =
      delete;

  void BeginRead();
  void EndRead();
  // False when another writer held the lock while this thread waited for a
  // promotion from read to write.
  bool BeginWrite();
  void EndWrite();

  // Whether the calling thread holds the write lock.
  bool IsWriter() const;
  // Threads waiting for the write lock (a diagnostic).
  uint32_t WaitingWriters() const;

  // For std::unique_lock / std::shared_lock.
  void lock() { BeginWrite(); }
  void unlock() { EndWrite(); }
  void lock_shared() { BeginRead(); }
  void unlock_shared() { EndRead(); }

 private:
  struct Reader {
    uint32_t thread;
    uint32_t count;
  };
  Reader* FindReader(uint32_t id);
  void DropReader(uint32_t id);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Reader> readers_;  // read locks per thread (also those of the writer)
  uint32_t active_readers_ = 0;  // threads whose read share counts against writers
  uint32_t waiting_writers_ = 0;
  uint32_t writer_ = 0;  // thread id; 0: none
  uint32_t write_depth_ = 0;
  uint64_t revision_ = 0;  // counts write-lock acquisitions
};
