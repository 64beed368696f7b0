#pragma once
// A safe replacement for printf-style formatting. The pattern is interpreted
// here, never handed to the C runtime, so texts from language files, logs or
// the network can be used as patterns (or as arguments) without risk.
//
// Supported: %[-][width][.precision] followed by d, u, x, X, s or c, and %%.
// Precision pads numbers with zeros to that many digits ("%.4d" of 7 is
// "0007") and cuts strings. A missing argument formats as empty text, a number
// given for %s as its decimal text, a text given for %d unchanged; an unknown
// conversion is copied as it stands.
//
// Patterns may come from files anyone can write: widths and precisions are
// cut to FormatLimits::MaxFieldWidth and the result to
// FormatLimits::MaxResultLength characters.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace kv {

struct FormatLimits {
    static constexpr int MaxFieldWidth = 1024;
    static constexpr std::size_t MaxResultLength = 32768;
};

template <class Char>
class FormatArg {
public:
    template <class Int, std::enable_if_t<std::is_integral_v<Int>, int> = 0>
    FormatArg(Int value) noexcept
        : kind_(std::is_signed_v<Int> ? Kind::Signed : Kind::Unsigned),
          number_(static_cast<std::uint64_t>(static_cast<std::int64_t>(value)))
    {
        if constexpr (!std::is_signed_v<Int>) number_ = static_cast<std::uint64_t>(value);
    }
    FormatArg(const Char* text) : kind_(Kind::Text), text_(text ? text : std::basic_string_view<Char>()) {}
    FormatArg(std::basic_string_view<Char> text) : kind_(Kind::Text), text_(text) {}
    FormatArg(const std::basic_string<Char>& text) : kind_(Kind::Text), text_(text) {}

    enum class Kind { Signed, Unsigned, Text };
    Kind GetKind() const noexcept { return kind_; }
    std::uint64_t Number() const noexcept { return number_; }
    std::basic_string_view<Char> Text() const noexcept { return text_; }

private:
    Kind kind_;
    std::uint64_t number_ = 0;
    std::basic_string_view<Char> text_;
};

std::wstring Format(std::wstring_view pattern, std::initializer_list<FormatArg<wchar_t>> args = {});
std::string Format(std::string_view pattern, std::initializer_list<FormatArg<char>> args = {});

} // namespace kv
