#pragma once
// The language table as the windows of this folder see it: one text by index.
// The program points it at the loaded language table at start-up
// (SetUiTextSource); until then, and in tests that build a window on its own,
// the windows show the English defaults.
#include <string>

namespace kv {

using UiTextSource = std::wstring (*)(int index);
// nullptr goes back to the English defaults.
void SetUiTextSource(UiTextSource source) noexcept;
std::wstring UiText(int index);

} // namespace kv
