#pragma once
// Registry export files (".reg", and the job files that are exports too) and
// the system's registry editor that writes and applies them.
//
// A file is handed to the registry editor only after it has been read here and
// every key it names, to write or to delete, lies below one of the keys the
// caller allows. The editor then works on a private copy of the checked bytes,
// so the file cannot change between the check and the import. Wine's regedit
// exits 0 whatever happens, so every export and import is judged by its result
// (the file written, the keys present) and not by the editor's exit code.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// One "[key]" line of a registry file; `remove` for "[-key]".
struct TRegistrySection {
    std::wstring key; // as written, e.g. "HKEY_CURRENT_USER\Software\..."
    bool remove = false;
};

struct TRegistryFile {
    std::string bytes; // the file exactly as read
    std::vector<TRegistrySection> sections;
};

// The sections of a registry file: UTF-16LE with byte-order mark and the header
// "Windows Registry Editor Version 5.00", or ANSI with the header "REGEDIT4".
// Nothing when the bytes are no such file, or hold a line the registry editor
// could read as a key that this parser does not see the same way.
std::optional<std::vector<TRegistrySection>> ParseRegistryFile(std::string_view bytes);

// True when `sectionKey` names `allowedKey` (a path below HKEY_CURRENT_USER,
// without leading backslash) or one of its sub-keys.
bool IsKeyWithin(std::wstring_view sectionKey, std::wstring_view allowedKey);

// Reads and checks a registry file: it parses, names at least one key, and
// every key it names lies within one of `allowedKeys`. Nothing otherwise.
std::optional<TRegistryFile> ReadRegistryFile(const std::wstring& fileName,
                                              const std::vector<std::wstring>& allowedKeys);

// Applies a checked file through the registry editor. True when every key the
// file writes (and does not delete again) exists afterwards and every key it
// deletes is gone.
bool ImportRegistryFile(const TRegistryFile& file);

// Deletes `replacedKey` (below HKEY_CURRENT_USER) and applies the file in its
// place. When the import fails, the key's former contents are put back.
bool ReplaceRegistryKey(std::wstring_view replacedKey, const TRegistryFile& file);

// Exports a key below HKEY_CURRENT_USER (with its sub-keys) to `fileName`.
// The file is deleted first; true only when a file that names the key was
// written.
bool ExportRegistryKey(std::wstring_view keyPath, const std::wstring& fileName);

} // namespace kv
