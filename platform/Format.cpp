#include "platform/Format.h"

#include <vector>

namespace kv {
namespace {

// Patterns come from language files: a width of 99999 repeated over a long
// text would make every call build megabytes. Widths and precisions beyond
// any window's use are cut, and so is the result.
constexpr int kMaxFieldWidth = FormatLimits::MaxFieldWidth;
constexpr std::size_t kMaxResultLength = FormatLimits::MaxResultLength;

int ReadCount(auto pattern, std::size_t& i)
{
    int value = 0;
    while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') {
        value = value * 10 + (pattern[i++] - '0');
        if (value > kMaxFieldWidth) value = kMaxFieldWidth;
    }
    return value;
}

template <class Char>
std::basic_string<Char> Digits(std::uint64_t value, unsigned base, bool upper)
{
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::basic_string<Char> text;
    do {
        text.insert(text.begin(), Char(digits[value % base]));
        value /= base;
    } while (value != 0);
    return text;
}

template <class Char>
std::basic_string<Char> FormatNumber(const FormatArg<Char>& arg, Char conversion, int precision)
{
    using String = std::basic_string<Char>;
    if (arg.GetKind() == FormatArg<Char>::Kind::Text) return String(arg.Text());
    std::uint64_t value = arg.Number();
    bool negative = false;
    if (conversion == Char('d') && arg.GetKind() == FormatArg<Char>::Kind::Signed &&
        static_cast<std::int64_t>(value) < 0) {
        negative = true;
        value = 0 - value;
    }
    if ((conversion == Char('x') || conversion == Char('X')) && arg.GetKind() == FormatArg<Char>::Kind::Signed &&
        static_cast<std::int64_t>(value) < 0 && static_cast<std::int64_t>(value) >= INT32_MIN) {
        value &= 0xFFFFFFFFu; // a negative 32-bit value prints as its 32-bit pattern
    }
    const bool hex = conversion == Char('x') || conversion == Char('X');
    String text = Digits<Char>(value, hex ? 16 : 10, conversion == Char('X'));
    if (precision > 0 && static_cast<int>(text.size()) < precision)
        text.insert(text.begin(), static_cast<std::size_t>(precision) - text.size(), Char('0'));
    if (negative) text.insert(text.begin(), Char('-'));
    return text;
}

template <class Char>
std::basic_string<Char> FormatText(const FormatArg<Char>& arg, int precision)
{
    using String = std::basic_string<Char>;
    String text = arg.GetKind() == FormatArg<Char>::Kind::Text
                      ? String(arg.Text())
                      : FormatNumber<Char>(arg, Char('d'), -1);
    if (precision >= 0 && static_cast<int>(text.size()) > precision) text.resize(static_cast<std::size_t>(precision));
    return text;
}

template <class Char>
std::basic_string<Char> FormatImpl(std::basic_string_view<Char> pattern,
                                   std::initializer_list<FormatArg<Char>> argList)
{
    using String = std::basic_string<Char>;
    const std::vector<FormatArg<Char>> args(argList);
    String out;
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < pattern.size() && out.size() < kMaxResultLength) {
        const Char c = pattern[i];
        if (c != Char('%')) {
            out += c;
            ++i;
            continue;
        }
        const std::size_t specStart = i++;
        if (i < pattern.size() && pattern[i] == Char('%')) {
            out += Char('%');
            ++i;
            continue;
        }
        bool leftAlign = false;
        if (i < pattern.size() && pattern[i] == Char('-')) {
            leftAlign = true;
            ++i;
        }
        const int width = ReadCount(pattern, i);
        int precision = -1;
        if (i < pattern.size() && pattern[i] == Char('.')) {
            ++i;
            precision = ReadCount(pattern, i);
        }
        if (i >= pattern.size()) {
            out.append(pattern.substr(specStart));
            break;
        }
        const Char conversion = pattern[i++];
        String piece;
        const bool known = conversion == Char('d') || conversion == Char('u') || conversion == Char('x') ||
                           conversion == Char('X') || conversion == Char('s') || conversion == Char('c');
        if (!known) {
            out.append(pattern.substr(specStart, i - specStart));
            continue;
        }
        if (next < args.size()) {
            const FormatArg<Char>& arg = args[next];
            if (conversion == Char('s'))
                piece = FormatText(arg, precision);
            else if (conversion == Char('c'))
                piece = arg.GetKind() == FormatArg<Char>::Kind::Text ? String(arg.Text().substr(0, 1))
                                                                     : String(1, static_cast<Char>(arg.Number()));
            else
                piece = FormatNumber(arg, conversion == Char('u') ? Char('d') : conversion, precision);
        }
        ++next;
        if (static_cast<int>(piece.size()) < width) {
            const std::size_t pad = static_cast<std::size_t>(width) - piece.size();
            if (leftAlign)
                piece.append(pad, Char(' '));
            else
                piece.insert(piece.begin(), pad, Char(' '));
        }
        out += piece;
    }
    if (out.size() > kMaxResultLength) out.resize(kMaxResultLength);
    return out;
}

} // namespace

std::wstring Format(std::wstring_view pattern, std::initializer_list<FormatArg<wchar_t>> args)
{
    return FormatImpl<wchar_t>(pattern, args);
}

std::string Format(std::string_view pattern, std::initializer_list<FormatArg<char>> args)
{
    return FormatImpl<char>(pattern, args);
}

} // namespace kv
