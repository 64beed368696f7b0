#include "crashreport/core/EHash.h"

#include <array>
#include <cstring>

namespace kv::crashreport {
namespace {

constexpr std::array<std::uint16_t, 256> MakeCrc16Table()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> kCrc16Table = MakeCrc16Table();
static_assert(kCrc16Table[1] == 0x1021);

// ---- MD5 (RFC 1321)

constexpr std::uint32_t kMd5Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMd5Shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

std::uint32_t RotateLeft(std::uint32_t value, int count) { return (value << count) | (value >> (32 - count)); }

void Md5Block(std::uint32_t (&state)[4], const std::uint8_t* block)
{
    std::uint32_t words[16];
    for (int i = 0; i < 16; ++i)
        words[i] = std::uint32_t(block[4 * i]) | std::uint32_t(block[4 * i + 1]) << 8 |
                   std::uint32_t(block[4 * i + 2]) << 16 | std::uint32_t(block[4 * i + 3]) << 24;
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const std::uint32_t next = d;
        d = c;
        c = b;
        b = b + RotateLeft(a + f + kMd5Sines[i] + words[g], kMd5Shifts[i]);
        a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

} // namespace

std::uint16_t CRC16String(std::string_view text)
{
    std::uint16_t crc = 0;
    for (char c : text)
        crc = static_cast<std::uint16_t>(kCrc16Table[(static_cast<std::uint8_t>(c) ^ (crc >> 8)) & 0xFF] ^ (crc << 8));
    return crc;
}

void MD5Buffer(std::uint8_t (&digest)[16], const void* buffer, std::size_t length)
{
    std::uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    for (; done + 64 <= length; done += 64) Md5Block(state, bytes + done);

    // The tail, the 0x80 marker, zeros and the bit count fill one or two blocks.
    std::uint8_t tail[128] = {};
    const std::size_t rest = length - done;
    if (rest) std::memcpy(tail, bytes + done, rest);
    tail[rest] = 0x80;
    const std::size_t tailSize = rest < 56 ? 64 : 128;
    const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
    for (int i = 0; i < 8; ++i) tail[tailSize - 8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    for (std::size_t offset = 0; offset < tailSize; offset += 64) Md5Block(state, tail + offset);

    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k) digest[4 * i + k] = static_cast<std::uint8_t>(state[i] >> (8 * k));
}

} // namespace kv::crashreport
