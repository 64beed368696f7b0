#pragma once
// Base64 of 8-bit texts and buffers (standard alphabet, "=" padding, one line)
// for SMTP authentication, mail attachments and the XML copy of the log.
#include <cstddef>
#include <string>
#include <string_view>

namespace kv::crashreport {

std::string Base64EncodeText(std::string_view text);
std::string Base64EncodeBuffer(const void* buffer, std::size_t length);
// A length that is 0 or no multiple of 4 gives the empty text; characters
// outside the alphabet are not detected.
std::string Base64DecodeText(std::string_view text);

inline std::string Base64EncodeString(std::string_view text) { return Base64EncodeText(text); }
inline std::string Base64DecodeString(std::string_view text) { return Base64DecodeText(text); }

} // namespace kv::crashreport
