#pragma once
// Errors inside the library are exceptions of this family; every export,
// command, interface method and receive path catches them at its boundary.
#include <stdexcept>
#include <string>

class EqonError : public std::runtime_error {
 public:
  explicit EqonError(const std::string& message) : std::runtime_error(message) {}
};

// A broken internal assumption (signature check, strict look-up, bad index).
class EAssertionFailed : public EqonError {
 public:
  using EqonError::EqonError;
};

// A text that does not convert to a number (the text-to-integer rule).
class EConvertError : public EqonError {
 public:
  using EqonError::EqonError;
};

class EOutOfResources : public EqonError {
 public:
  using EqonError::EqonError;
};
