#pragma once
// Registry helpers the settings and start-up tests share.
#include <string>
#include <string_view>

namespace kvtest {

// A registry file as the registry editor writes it: UTF-16LE with byte-order
// mark, the version 5 header and a blank line, then `body`.
std::string UnicodeRegFile(std::wstring_view body);

// A DWORD value that marks a key, to see later whether the key was replaced.
void MarkKey(const std::wstring& key, const wchar_t* name = L"Marker");
bool HasMark(const std::wstring& key, const wchar_t* name = L"Marker");

} // namespace kvtest
