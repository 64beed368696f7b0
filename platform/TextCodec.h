#pragma once
// Conversions between the program's wide text and 8-bit or UTF-8 bytes.
#include <string>
#include <string_view>

#include <windows.h>

namespace kv {

std::wstring MultiByteToWide(std::string_view bytes, UINT codePage);
std::string WideToMultiByte(std::wstring_view text, UINT codePage);

inline std::wstring AnsiToWide(std::string_view bytes) { return MultiByteToWide(bytes, CP_ACP); }
inline std::string WideToAnsi(std::wstring_view text) { return WideToMultiByte(text, CP_ACP); }
inline std::wstring Utf8ToWide(std::string_view bytes) { return MultiByteToWide(bytes, CP_UTF8); }
inline std::string WideToUtf8(std::wstring_view text) { return WideToMultiByte(text, CP_UTF8); }

std::wstring UpperCase(std::wstring_view text);
// The same into `target`, whose buffer is reused: for loops over many names.
void AssignUpperCase(std::wstring& target, std::wstring_view text);
void AssignLowerCase(std::wstring& target, std::wstring_view text);
std::wstring LowerCase(std::wstring_view text);

} // namespace kv
