#pragma once
// Files the program writes or deletes itself (the language template and its
// decoded copy, the settings export, the backup log, a job's log). Anyone who
// can write the program's folder can plant a link under such a name; the file
// is never written or deleted through it. A new file is written under a fresh
// name beside it and renamed over the old name, which replaces a link itself
// and leaves its target's bytes alone.
#include <string>
#include <string_view>

namespace kv {

// Creates or replaces `path` with exactly these bytes. False when it cannot.
bool ReplaceOwnFile(const std::wstring& path, std::string_view bytes);
// The same with UTF-16LE text after the byte-order mark FF FE.
bool ReplaceOwnUnicodeFile(const std::wstring& path, std::wstring_view text);

// Removes `path`; a link of that name is removed as a link. True when nothing
// is left at the path.
bool RemoveOwnFile(const std::wstring& path);

// A name beside `path` that nothing uses yet, for a file about to be made.
std::wstring FreshNameBeside(const std::wstring& path);

// Renames a file just made under a fresh name over `path` (link or file).
bool ReplaceWithFresh(const std::wstring& fresh, const std::wstring& path);

} // namespace kv
