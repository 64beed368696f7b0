#pragma once
// A language file whose every text is 40 % longer than English, as many
// translations are: the windows must show it without cutting a caption.
// Shared by the tests and the showcase (header only: the showcase links no
// test library).
#include <string>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/windows/LangDataUnit.h"
#include "platform/Format.h"

namespace kvtest {

// The English text with 40 % more characters, taken from its own words (no
// placeholder, accelerator or line break is repeated).
inline std::wstring LongerText(std::wstring_view english)
{
    std::wstring words;
    for (std::size_t i = 0; i < english.size(); ++i) {
        if (english.compare(i, 4, L"<BR>") == 0) {
            i += 3;
            continue;
        }
        const wchar_t c = english[i];
        if (c == L'%') {
            ++i; // the conversion letter goes with it
            continue;
        }
        if (c != L'&' && c != L'\n') words += c;
    }
    if (words.empty()) return std::wstring(english);
    const std::size_t extra = (english.size() * 2 + 4) / 5; // 40 %, rounded up
    std::wstring text(english);
    text += L' ';
    for (std::size_t i = 1; i < extra; ++i) text += words[(i - 1) % words.size()];
    return text;
}

// Writes the file (UTF-16 with its byte-order mark) and returns its path.
inline std::wstring WriteLongerLanguageFile(const std::wstring& folder)
{
    std::wstring text = L"[Info]\r\nLanguage=Longer\r\n[Strings]\r\n";
    for (int index = 0; index < kv::LanguageEntryCount; ++index) {
        const std::wstring_view english = kv::DefaultLanguageText(index);
        if (english.empty()) continue;
        text += kv::Format(L"%.4d", {index}) + L"=" + LongerText(english) + L"\r\n";
    }
    const std::wstring path = folder + L"Longer.ini";
    kv::WriteUnicodeFile(path, text);
    return path;
}

} // namespace kvtest
