#pragma once
// Hex texts of the generated vectors to bytes.
#include <string>
#include <string_view>

namespace kvtest {

inline std::string FromHex(std::string_view hex)
{
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(nibble(hex[i]) << 4 | nibble(hex[i + 1]));
    return bytes;
}

struct Crc16Vector {
    const char* input;
    unsigned crc;
};
struct Md5Vector {
    const char* input;
    const char* digest;
};
struct Base64Vector {
    const char* input;
    const char* encoded;
};
struct TeaBlockVector {
    const char* password;
    const char* plain;
    const char* cipher;
};
struct TeaBufferVector {
    const char* password;
    const char* input;
    const char* output;
};

#include "data/CryptoVectors.inc"

} // namespace kvtest
