#include "cleaner/windows/UiText.h"

#include <atomic>

#include "cleaner/windows/LangDataUnit.h"

namespace kv {
namespace {

std::atomic<UiTextSource> g_source{nullptr};

} // namespace

void SetUiTextSource(UiTextSource source) noexcept { g_source = source; }

std::wstring UiText(int index)
{
    if (UiTextSource source = g_source.load()) return source(index);
    return EnglishLanguageText(index);
}

} // namespace kv
