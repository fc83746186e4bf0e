#pragma once
// The custom commands a module offers the host (reported by GetModuleInfo).
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct TqonPluginCustomCmd {
  std::string Name;
  std::string Caption;
  std::string Data;
  bool FlagA = false;
  bool FlagB = false;
};

// Owns its commands. Locked, as GetModuleInfo reads it outside the command lock.
class TqonPluginCustomCmdList {
 public:
  void Add(std::string name, std::string caption, bool flag_b, bool flag_a, std::string data);
  // One line per command, "Name|Caption|Data|FlagA|FlagB" with flags as 0/1,
  // each line ended by CR LF.
  std::string AsText() const;
  // Adds the commands of the lines; lines with fewer than five fields are skipped.
  void LoadFromText(std::string_view text);
  int Count() const;
  TqonPluginCustomCmd Items(int index) const;
  void Clear();

 private:
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<TqonPluginCustomCmd>> items_;
};
