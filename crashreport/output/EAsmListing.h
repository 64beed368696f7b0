#pragma once
// The report's short disassembly around an exception address: up to ten
// instructions before it and ten after, the faulting one marked, notes with
// the unit, procedure and line of each stretch of code, and readable names
// for call and jump targets and string constants.
#include <string>

#include "crashreport/core/debuginfo/EDebugTypes.h"

namespace kv::crashreport {

// The listing, each line followed by CR LF; empty (and the heading left as
// it is) when the 4 bytes at the address cannot be read. Sets the heading:
// the assembler caption, ":", CR LF and a rule of dashes as long as the
// longest line.
std::string BuildAssemblerSection(const void* address, std::string& heading);

// What the listing learns of a code address (module, unit, class, procedure,
// line). Installed by the address lookup of the reporter's data; without it
// the listing has no notes and shows targets as addresses.
using AsmAddressDescriber = void (*)(const void* address, TOspreyDebugInfo& info);
void SetAsmAddressDescriber(AsmAddressDescriber describer) noexcept;

// Makes BuildAssemblerSection the report's assembler section.
void InstallAssemblerListing() noexcept;

} // namespace kv::crashreport
