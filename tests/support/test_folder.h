#pragma once
// A fresh temporary folder for one test, removed afterwards.
#include <filesystem>
#include <random>
#include <string>

#include "platform/files.h"

class TestFolder {
 public:
  TestFolder() {
    std::random_device rd;
    path_ = platform::TempFolder() + "dlt645-test-" + std::to_string(rd()) + std::to_string(rd());
    std::filesystem::create_directories(path_);
  }
  ~TestFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const {
    return path_ + platform::PathDelimiter() + name;
  }

 private:
  std::string path_;
};
