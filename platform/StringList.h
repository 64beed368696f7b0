#pragma once
// A list of text lines with the splitting and lookup rules the settings,
// language and report code rely on:
// - text splits at CR LF, a lone CR or a lone LF; a final line end adds no
//   empty line ("a\r\nb\r\n" is two lines);
// - Text() ends every line with CR LF;
// - IndexOf, IndexOfName and Sort ignore case (the user locale's rules).
#include <string>
#include <string_view>
#include <vector>

namespace kv {

template <class Char>
class BasicStringList {
public:
    using String = std::basic_string<Char>;
    using View = std::basic_string_view<Char>;

    BasicStringList() = default;
    explicit BasicStringList(View text) { SetText(text); }

    void SetText(View text);
    String Text() const;

    std::size_t Count() const noexcept { return lines_.size(); }
    bool Empty() const noexcept { return lines_.empty(); }
    const String& operator[](std::size_t i) const { return lines_[i]; }
    String& operator[](std::size_t i) { return lines_[i]; }
    void Add(String line) { lines_.push_back(std::move(line)); }
    void Insert(std::size_t i, String line) { lines_.insert(lines_.begin() + i, std::move(line)); }
    void Delete(std::size_t i) { lines_.erase(lines_.begin() + i); }
    void Clear() noexcept { lines_.clear(); }

    // Case-insensitive; -1 when absent.
    int IndexOf(View line) const;
    // Index of the first "name=value" line whose name equals `name` ignoring case.
    int IndexOfName(View name) const;
    // The value of the first "name=value" line; empty when absent.
    String Value(View name) const;
    void SetValue(View name, View value);
    static String NameOf(View line);
    static String ValueOf(View line);

    void Sort();

    const std::vector<String>& Lines() const noexcept { return lines_; }
    auto begin() const { return lines_.begin(); }
    auto end() const { return lines_.end(); }

private:
    std::vector<String> lines_;
};

using StringList = BasicStringList<wchar_t>;
using AnsiStringList = BasicStringList<char>;

// Case-insensitive comparison with the user locale's rules (<0, 0, >0).
int CompareTextIgnoreCase(std::wstring_view a, std::wstring_view b);
int CompareTextIgnoreCase(std::string_view a, std::string_view b);

} // namespace kv
