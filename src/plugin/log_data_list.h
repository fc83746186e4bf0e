#pragma once
// The instance log: pending lines for the host, taken with GetLogEx. A line
// repeated right after itself is counted instead of stored again; the count
// is rendered as " xN" only when the text is produced or when another line
// follows, so taking the text without clearing never renders it twice.
#include <cstdint>
#include <string>

#include "threading/thread_string_list.h"

class TLogDataList : public TThreadStringList<uint32_t> {
 public:
  static constexpr int kInstanceLogLines = 51200;

  explicit TLogDataList(int max_lines = kInstanceLogLines) : MaxLines(max_lines) {}

  void AddLine(const std::string& line);
  // The whole log, each line followed by CR LF; the log is kept.
  std::string TakeText();
  // The text of a list already locked by the caller.
  static std::string RenderText(const List& list);

  const int MaxLines;
};
