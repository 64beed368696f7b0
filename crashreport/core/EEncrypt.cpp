#include "crashreport/core/EEncrypt.h"

#include <cstring>
#include <string>

#include "crashreport/core/EHash.h"

namespace kv::crashreport {
namespace {

constexpr std::uint32_t kDelta = 0x9E3779B9;
constexpr std::uint32_t kDecryptStart = 0xC6EF3720; // 32 * delta, modulo 2^32
constexpr int kCycles = 32;

std::uint32_t g_key[4];
std::uint8_t g_chain[8];
std::string g_keyPassword;
bool g_keySet = false;

std::uint32_t ReadBigEndian(const std::uint8_t* bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
}

void WriteBigEndian(std::uint32_t value, std::uint8_t* bytes)
{
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

std::uint32_t Mix(std::uint32_t half, std::uint32_t sum, std::uint32_t keyA, std::uint32_t keyB)
{
    return (half << 4) + (half ^ keyA) + ((half >> 5) ^ sum) + keyB;
}

// The bytes after the last whole block: XORed with the enciphered chaining
// block, the same way in both directions.
void CipherTail(const std::uint8_t* source, std::uint8_t* target, std::size_t offset, std::size_t length)
{
    if (offset == length) return;
    std::uint8_t keystream[8];
    TEAEncryptBlock(g_chain, keystream);
    std::memcpy(g_chain, keystream, 8);
    for (std::size_t i = 0; offset + i < length; ++i) target[offset + i] = source[offset + i] ^ keystream[i];
}

} // namespace

void TEASetKey(std::string_view password)
{
    std::uint8_t digest[16];
    MD5Buffer(digest, password.data(), password.size());
    for (int i = 0; i < 4; ++i) g_key[i] = ReadBigEndian(digest + 4 * i);
    g_keyPassword.assign(password);
    g_keySet = true;
}

bool TEAKeyIsFrom(std::string_view password) { return g_keySet && g_keyPassword == password; }

void TEAEncryptBlock(const std::uint8_t (&in)[8], std::uint8_t (&out)[8])
{
    std::uint32_t left = ReadBigEndian(in), right = ReadBigEndian(in + 4), sum = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        sum += kDelta;
        left += Mix(right, sum, g_key[0], g_key[1]);
        right += Mix(left, sum, g_key[2], g_key[3]);
    }
    WriteBigEndian(left, out);
    WriteBigEndian(right, out + 4);
}

void TEADecryptBlock(const std::uint8_t (&in)[8], std::uint8_t (&out)[8])
{
    std::uint32_t left = ReadBigEndian(in), right = ReadBigEndian(in + 4), sum = kDecryptStart;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        right -= Mix(left, sum, g_key[2], g_key[3]);
        left -= Mix(right, sum, g_key[0], g_key[1]);
        sum -= kDelta;
    }
    WriteBigEndian(left, out);
    WriteBigEndian(right, out + 4);
}

void TEADecryptBuffer(const void* in, void* out, std::size_t length)
{
    const auto* source = static_cast<const std::uint8_t*>(in);
    auto* target = static_cast<std::uint8_t*>(out);
    std::memset(g_chain, 0xFF, sizeof g_chain);
    std::size_t offset = 0;
    for (; offset + 8 <= length; offset += 8) {
        // The cipher block is kept before the output is written: in and out may overlap.
        std::uint8_t cipher[8], plain[8];
        std::memcpy(cipher, source + offset, 8);
        TEADecryptBlock(cipher, plain);
        for (int i = 0; i < 8; ++i) target[offset + i] = plain[i] ^ g_chain[i];
        std::memcpy(g_chain, cipher, 8);
    }
    CipherTail(source, target, offset, length);
}

void TEAEncryptBuffer(const void* in, void* out, std::size_t length)
{
    const auto* source = static_cast<const std::uint8_t*>(in);
    auto* target = static_cast<std::uint8_t*>(out);
    std::memset(g_chain, 0xFF, sizeof g_chain);
    std::size_t offset = 0;
    for (; offset + 8 <= length; offset += 8) {
        std::uint8_t plain[8], cipher[8];
        for (int i = 0; i < 8; ++i) plain[i] = source[offset + i] ^ g_chain[i];
        TEAEncryptBlock(plain, cipher);
        std::memcpy(target + offset, cipher, 8);
        std::memcpy(g_chain, cipher, 8);
    }
    CipherTail(source, target, offset, length);
}

} // namespace kv::crashreport
