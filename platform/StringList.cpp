#include "platform/StringList.h"

#include <windows.h>

#include <algorithm>

namespace kv {

int CompareTextIgnoreCase(std::wstring_view a, std::wstring_view b)
{
    return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                            b.data(), static_cast<int>(b.size())) - CSTR_EQUAL;
}

int CompareTextIgnoreCase(std::string_view a, std::string_view b)
{
    return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                            b.data(), static_cast<int>(b.size())) - CSTR_EQUAL;
}

template <class Char>
void BasicStringList<Char>::SetText(View text)
{
    lines_.clear();
    std::size_t start = 0;
    const std::size_t size = text.size();
    while (start < size) {
        std::size_t end = start;
        while (end < size && text[end] != Char('\r') && text[end] != Char('\n')) ++end;
        lines_.emplace_back(text.substr(start, end - start));
        if (end < size && text[end] == Char('\r')) {
            ++end;
            if (end < size && text[end] == Char('\n')) ++end;
        } else if (end < size) {
            ++end;
        }
        start = end;
    }
}

template <class Char>
typename BasicStringList<Char>::String BasicStringList<Char>::Text() const
{
    String text;
    for (const String& line : lines_) {
        text += line;
        text += Char('\r');
        text += Char('\n');
    }
    return text;
}

template <class Char>
int BasicStringList<Char>::IndexOf(View line) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (CompareTextIgnoreCase(View(lines_[i]), line) == 0) return static_cast<int>(i);
    return -1;
}

template <class Char>
typename BasicStringList<Char>::String BasicStringList<Char>::NameOf(View line)
{
    const std::size_t eq = line.find(Char('='));
    return eq == View::npos ? String(line) : String(line.substr(0, eq));
}

template <class Char>
typename BasicStringList<Char>::String BasicStringList<Char>::ValueOf(View line)
{
    const std::size_t eq = line.find(Char('='));
    return eq == View::npos ? String() : String(line.substr(eq + 1));
}

template <class Char>
int BasicStringList<Char>::IndexOfName(View name) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const View line(lines_[i]);
        const std::size_t eq = line.find(Char('='));
        if (eq != View::npos && CompareTextIgnoreCase(line.substr(0, eq), name) == 0) return static_cast<int>(i);
    }
    return -1;
}

template <class Char>
typename BasicStringList<Char>::String BasicStringList<Char>::Value(View name) const
{
    const int i = IndexOfName(name);
    return i < 0 ? String() : ValueOf(lines_[i]);
}

template <class Char>
void BasicStringList<Char>::SetValue(View name, View value)
{
    String line(name);
    line += Char('=');
    line += value;
    const int i = IndexOfName(name);
    if (i < 0)
        lines_.push_back(std::move(line));
    else
        lines_[i] = std::move(line);
}

template <class Char>
void BasicStringList<Char>::Sort()
{
    std::stable_sort(lines_.begin(), lines_.end(), [](const String& a, const String& b) {
        return CompareTextIgnoreCase(View(a), View(b)) < 0;
    });
}

template class BasicStringList<wchar_t>;
template class BasicStringList<char>;

} // namespace kv
