#include "crashreport/core/EBase64.h"

#include <array>
#include <cstdint>

namespace kv::crashreport {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::uint8_t, 256> MakeDecodingTable()
{
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) entry = 0xFF;
    for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<std::uint8_t>(kAlphabet[i])] = i;
    table['='] = 0;
    return table;
}
constexpr std::array<std::uint8_t, 256> kDecoding = MakeDecodingTable();

std::uint32_t GroupValue(std::string_view group)
{
    std::uint32_t value = 0;
    for (char c : group) value = (value << 6) | (kDecoding[static_cast<std::uint8_t>(c)] & 0x3F);
    return value;
}

} // namespace

std::string Base64EncodeBuffer(const void* buffer, std::size_t length)
{
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::string text;
    text.reserve((length + 2) / 3 * 4);
    for (std::size_t i = 0; i < length; i += 3) {
        const std::size_t count = length - i < 3 ? length - i : 3;
        std::uint32_t value = std::uint32_t(bytes[i]) << 16;
        if (count > 1) value |= std::uint32_t(bytes[i + 1]) << 8;
        if (count > 2) value |= bytes[i + 2];
        text += kAlphabet[(value >> 18) & 0x3F];
        text += kAlphabet[(value >> 12) & 0x3F];
        text += count > 1 ? kAlphabet[(value >> 6) & 0x3F] : '=';
        text += count > 2 ? kAlphabet[value & 0x3F] : '=';
    }
    return text;
}

std::string Base64EncodeText(std::string_view text) { return Base64EncodeBuffer(text.data(), text.size()); }

std::string Base64DecodeText(std::string_view text)
{
    if (text.empty() || text.size() % 4 != 0) return std::string();
    std::size_t length = text.size() / 4 * 3;
    if (text[text.size() - 2] == '=')
        length -= 2;
    else if (text.back() == '=')
        length -= 1;
    std::string result(length, '.');
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::string_view group = text.substr(i, 4);
        if (i + 4 == text.size()) group = group.substr(0, group.find('=')); // the last group up to its padding
        const std::size_t bytes = group.size() == 4 ? 3 : group.size() == 3 ? 2 : group.size() == 2 ? 1 : 0;
        const std::uint32_t value = GroupValue(group) << (6 * (4 - group.size()));
        for (std::size_t k = 0; k < bytes && out < result.size(); ++k)
            result[out++] = static_cast<char>(value >> (16 - 8 * k));
    }
    return result;
}

} // namespace kv::crashreport
