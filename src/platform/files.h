#pragma once
// Plain files as the settings store and the language files use them. Names are
// byte strings in the ANSI code page (UTF-8 on POSIX).
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// '\\' on Windows, '/' on POSIX.
char PathDelimiter();
bool IsPathDelimiter(char c);

bool FileExists(const std::string& path);
// The whole file; false when it cannot be read or is larger than max_size.
bool ReadWholeFile(const std::string& path, std::string* bytes, size_t max_size = 64u << 20);
// Writes a sibling temporary file and puts it in the file's place, so that a
// reader never sees half a file. False when anything fails (the old file stays).
bool ReplaceFileContent(const std::string& path, std::string_view bytes);
bool RemoveFile(const std::string& path);
// A folder for temporary files, with a trailing delimiter.
std::string TempFolder();

// The folder part with its trailing delimiter ("" when there is none).
std::string ExtractFilePath(std::string_view path);
std::string ExtractFileName(std::string_view path);
// The extension of the file-name part replaced (ext with its dot, or empty).
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// The folder with a delimiter added when it has none; "" stays "".
std::string IncludeTrailingDelimiter(std::string_view folder);

}  // namespace platform
