#pragma once
#include <mutex>
#include <string>
#include <utility>

// A byte string read by data paths while commands may set it.
class TLockedString {
 public:
  TLockedString() = default;
  TLockedString(std::string value) : value_(std::move(value)) {}  // NOLINT
  TLockedString& operator=(std::string value) {
    Set(std::move(value));
    return *this;
  }
  std::string Get() const {
    std::lock_guard<std::mutex> guard(lock_);
    return value_;
  }
  void Set(std::string value) {
    std::lock_guard<std::mutex> guard(lock_);
    value_ = std::move(value);
  }
  bool Empty() const {
    std::lock_guard<std::mutex> guard(lock_);
    return value_.empty();
  }
  operator std::string() const { return Get(); }  // NOLINT

 private:
  mutable std::mutex lock_;
  std::string value_;
};
