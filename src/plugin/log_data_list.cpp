#include "plugin/log_data_list.h"

#include <cstdio>

namespace {

std::string WithRepeats(const std::string& line, uint32_t repeats) {
  if (repeats == 0) return line;
  char suffix[24];
  std::snprintf(suffix, sizeof(suffix), " x%u", repeats + 1);
  return line + suffix;
}

}  // namespace

void TLogDataList::AddLine(const std::string& line) {
  auto w = WriteLocked();
  if (!w->Empty()) {
    const int last = w->Count() - 1;
    if (w->Strings(last) == line) {
      w->SetObject(last, w->Objects(last) + 1);
      return;
    }
    // The last line stops being last: its count becomes part of its text.
    if (const uint32_t repeats = w->Objects(last); repeats > 0) {
      w->SetString(last, WithRepeats(w->Strings(last), repeats));
      w->SetObject(last, 0);
    }
  }
  w->AddObject(line, 0);
  const int excess = w->Count() - MaxLines;
  for (int i = 0; i < excess; ++i)
    w->Delete(0);
}

std::string TLogDataList::RenderText(const List& list) {
  std::string text;
  const int count = list.Count();
  for (int i = 0; i < count; ++i) {
    text += WithRepeats(list.Strings(i), list.Objects(i));
    text += "\r\n";
  }
  return text;
}

std::string TLogDataList::TakeText() {
  auto r = ReadLocked();
  return RenderText(*r);
}
