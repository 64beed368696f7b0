#pragma once
// The options stream: the byte form of the options compiled into a module's
// reporter data and kept in the shared copy. It carries no version of its
// own; the reader is told the version through OptionsStreamVersion.
#include <cstdint>
#include <string>
#include <string_view>

#include "crashreport/core/ETypes.h"
#include "platform/Stream.h"

namespace kv::crashreport {

// The version of the next stream LoadFromStream reads (set by its caller).
extern std::uint16_t OptionsStreamVersion;

// A signed 32-bit length and the bytes XOR 0xD6; a single line end at the very
// end of the text is not stored.
void WriteOptionString(Stream& stream, std::string_view text);
// Throws EReadError when the stream holds fewer bytes than the length says.
std::string ReadOptionString(Stream& stream);

// 48 characters '0'/'1', member 0 first, and back.
std::string ShowOptionsToText(const TShowOptions& options);
TShowOptions TextToShowOptions(std::string_view text);

} // namespace kv::crashreport
