#include "platform/TextCodec.h"

namespace kv {

std::wstring MultiByteToWide(std::string_view bytes, UINT codePage)
{
    if (bytes.empty()) return std::wstring();
    const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

std::string WideToMultiByte(std::wstring_view text, UINT codePage)
{
    if (text.empty()) return std::string();
    const int length =
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string bytes(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                          nullptr);
    return bytes;
}

void AssignUpperCase(std::wstring& target, std::wstring_view text)
{
    target.assign(text);
    if (!target.empty()) ::CharUpperBuffW(target.data(), static_cast<DWORD>(target.size()));
}

void AssignLowerCase(std::wstring& target, std::wstring_view text)
{
    target.assign(text);
    if (!target.empty()) ::CharLowerBuffW(target.data(), static_cast<DWORD>(target.size()));
}

std::wstring UpperCase(std::wstring_view text)
{
    std::wstring result;
    AssignUpperCase(result, text);
    return result;
}

std::wstring LowerCase(std::wstring_view text)
{
    std::wstring result;
    AssignLowerCase(result, text);
    return result;
}

} // namespace kv
