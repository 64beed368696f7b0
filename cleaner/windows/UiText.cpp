#include "cleaner/windows/UiText.h"

#include <atomic>

#include "cleaner/windows/LangDataUnit.h"

namespace kv {
namespace {

struct EnglishText {
    int index;
    const wchar_t* text;
};

// Only the entries of the windows that take their texts through UiText today.
constexpr EnglishText kEnglish[] = {
    {59, L"Cleaning Progress"},
    {73, L"Close"},
    {155, L"Cookies will be deleted:"},
    {156, L"Cookies will not be deleted:"},
    {160, L"&Save"},
    {161, L"&Cancel"},
    {168, L"Cancel"},
    {179, L"Do Save"},
    {180, L"Don't Save"},
    {181, L"Save Setting"},
    {232, L"Always show balloon tips"},
    {233, L"Click here to start cleaning junk files!"},
    {234, L"Click here to start scanning junk files!"},
    {247, L"Add a cookie name which you do not want to delete"},
};

std::wstring BuiltInText(int index)
{
    for (const EnglishText& entry : kEnglish)
        if (entry.index == index) return entry.text;
    // The rest as the language table's English defaults, line breaks made as
    // a loaded language makes them.
    std::wstring text(DefaultLanguageText(index));
    ReplaceLineBreakMarkers(text);
    return text;
}

std::atomic<UiTextSource> g_source{nullptr};

} // namespace

void SetUiTextSource(UiTextSource source) noexcept { g_source = source; }

std::wstring UiText(int index)
{
    if (UiTextSource source = g_source.load()) return source(index);
    return BuiltInText(index);
}

} // namespace kv
