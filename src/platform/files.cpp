#include "platform/files.h"

namespace platform {

std::string ExtractFilePath(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathDelimiter(path[i - 1])) return std::string(path.substr(0, i));
  }
  return std::string();
}

std::string ExtractFileName(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathDelimiter(path[i - 1])) return std::string(path.substr(i));
  }
  return std::string(path);
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const size_t name_start = ExtractFilePath(path).size();
  size_t end = path.size();
  for (size_t i = path.size(); i > name_start; --i) {
    if (path[i - 1] == '.') {
      end = i - 1;
      break;
    }
  }
  std::string out(path.substr(0, end));
  out += ext;
  return out;
}

std::string IncludeTrailingDelimiter(std::string_view folder) {
  std::string out(folder);
  if (!out.empty() && !IsPathDelimiter(out.back())) out += PathDelimiter();
  return out;
}

}  // namespace platform
