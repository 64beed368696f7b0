#pragma once
// Deciphering of enciphered debug data and unit names: a cipher of TEA's
// shape (32 cycles, delta 0x9E3779B9) whose round combines its terms in its
// own way, used in CBC mode with an initial block of eight 0xFF bytes. The key
// is process-wide: a caller sets it right before it deciphers, under the
// reporter's lock.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kv::crashreport {

// The key is the MD5 digest of the password as four big-endian words.
void TEASetKey(std::string_view password);
// Whether the current key was made from this password (a reader sets the
// key again only when its module's password differs).
bool TEAKeyIsFrom(std::string_view password);
void TEAEncryptBlock(const std::uint8_t (&in)[8], std::uint8_t (&out)[8]);
void TEADecryptBlock(const std::uint8_t (&in)[8], std::uint8_t (&out)[8]);
// Any length; the output has exactly `length` bytes. `in` and `out` may be
// the same buffer.
void TEADecryptBuffer(const void* in, void* out, std::size_t length);
// The inverse of TEADecryptBuffer under the same key (the build's writer
// enciphers with it).
void TEAEncryptBuffer(const void* in, void* out, std::size_t length);

} // namespace kv::crashreport
