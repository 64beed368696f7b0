#pragma once
// The build's side of the reporter data: line rows and code symbols of a
// linked image turned into unit records with their line tables. The writer in
// tools/ and the tests' fixtures use it; the reporter itself only reads.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/core/ECore.h"
#include "crashreport/core/debuginfo/EDebugData.h"

namespace kv::crashreport {

// One row of a line table: the code from Address on belongs to File:Line;
// an end row closes its sequence.
struct LineRow {
    std::string File;
    std::uint32_t Line = 0;
    std::uint32_t Address = 0;
    bool End = false;
};
// The rows of `objdump --dwarf=decodedline` in their order.
std::vector<LineRow> ParseDecodedLines(std::string_view text);

struct CodeSymbol {
    std::uint32_t Address = 0;
    std::string Name; // demangled
};
// The code symbols of `nm -n -C`, one per address, in rising order.
std::vector<CodeSymbol> ParseSymbols(std::string_view text);

struct WriterStatistics {
    std::size_t Procedures = 0;
};
// One unit per contiguous run of one source file; procedures start at the
// symbols. Addresses become offsets from imageBase + 0x1000.
std::vector<DebugUnit> BuildDebugUnits(const std::vector<LineRow>& rows, const std::vector<CodeSymbol>& symbols,
                                       std::uint32_t imageBase, WriterStatistics* statistics = nullptr,
                                       int version = ELDataVersion);

// A unit's line table from its steps: each step moves to a new line and
// offset; a step that starts a procedure carries its name.
struct LineStep {
    std::int32_t LineDelta = 1;
    std::uint32_t OffsetDelta = 1;
    std::string Procedure; // empty: no new procedure
};
// Encodes the steps in their shortest forms (a step too large for one entry
// becomes several); `forced` chooses the form of every entry that fits it.
std::string EncodeLineTable(const std::vector<LineStep>& steps, int version = ELDataVersion,
                            const LineEntryForm* forced = nullptr);

// Settings of the options file beyond the options themselves.
struct WriterSettings {
    std::uint8_t LeakOptions = 0;
    std::uint8_t LeaksFromMainModule = 0;
    std::string Password;
};
// One "key=value" of the options file; false for an unknown key.
bool ApplyWriterSetting(WriterSettings& settings, TOspreyModuleOptions& options, const std::string& key,
                        const std::string& value);

} // namespace kv::crashreport
