#pragma once
// Checksums of the crash reporter: the CRC-16 behind a report's exception
// identifier (CRC-16/XMODEM: polynomial 0x1021, start 0, no reflection) and MD5.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kv::crashreport {

std::uint16_t CRC16String(std::string_view text);
void MD5Buffer(std::uint8_t (&digest)[16], const void* buffer, std::size_t length);

} // namespace kv::crashreport
