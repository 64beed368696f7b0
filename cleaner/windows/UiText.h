#pragma once
// The language table as the windows of this folder see it: one text by index.
// Until the program points it at the loaded language table (SetUiTextSource,
// at start-up after the table is filled), the English texts these windows
// need are answered from a small built-in table.
#include <string>

namespace kv {

using UiTextSource = std::wstring (*)(int index);
// nullptr goes back to the built-in English texts.
void SetUiTextSource(UiTextSource source) noexcept;
std::wstring UiText(int index);

} // namespace kv
