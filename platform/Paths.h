#pragma once
// The small path and file helpers that the cleaner (UTF-16 paths) and the
// crash reporter (paths in the ANSI code page) share: one of each.
#include <optional>
#include <string>

namespace kv {

// The path with one backslash at its end (an empty path stays empty).
std::wstring WithTrailingBackslash(std::wstring path);
std::string WithTrailingBackslash(std::string path);
// The path without backslashes at its end.
std::wstring WithoutTrailingBackslash(std::wstring path);
std::string WithoutTrailingBackslash(std::string path);

// Whether a file (not a folder) of that name exists.
bool FileExists(const std::wstring& path);
bool FileExists(const std::string& path);
// Whether a folder of that name exists (a trailing backslash is allowed).
bool FolderExists(const std::wstring& path);
bool FolderExists(const std::string& path);
// Whether anything (a file or a folder) of that name exists.
bool PathExists(const std::wstring& path);

// The whole file's bytes; nothing when it cannot be read (or is over 2 GB).
std::optional<std::string> ReadWholeFile(const std::wstring& path);

} // namespace kv
