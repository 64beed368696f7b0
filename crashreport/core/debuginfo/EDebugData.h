#pragma once
// The byte format of a module's reporter data ("ELDATA"): its header layouts
// by version, the line-table entries and the debug strings of its debug
// information. One code for both sides: the build's writer (tools/) encodes
// with it and the reporter decodes with it. Nothing here touches a module.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::crashreport {

constexpr std::uint16_t ELDataVersion = 6023;
constexpr std::uint32_t ELDataMagic = 0x100FAB10u;
// Stored 600..602 stand for 6000..6002.
std::uint16_t NormalizeELDataVersion(std::uint16_t stored) noexcept;
// The XOR of debug-string bytes in data older than version 500.
constexpr std::uint8_t OldDebugStringKey = 0xA7;

// ---- Reading bytes within bounds: every read checks what is left.
class ByteReader {
public:
    ByteReader(const void* data, std::size_t size) : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    std::size_t Position() const noexcept { return position_; }
    std::size_t Remaining() const noexcept { return size_ - position_; }
    const std::uint8_t* Current() const noexcept { return data_ + position_; }
    bool Skip(std::size_t count) noexcept;
    bool Bytes(void* target, std::size_t count) noexcept;
    bool U8(std::uint8_t& value) noexcept { return Bytes(&value, 1); }
    bool U16(std::uint16_t& value) noexcept { return Bytes(&value, 2); }
    bool U32(std::uint32_t& value) noexcept { return Bytes(&value, 4); }
    bool F64(double& value) noexcept { return Bytes(&value, 8); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

void AppendU8(std::string& out, std::uint8_t value);
void AppendU16(std::string& out, std::uint16_t value);
void AppendU32(std::string& out, std::uint32_t value);
void AppendF64(std::string& out, double value);

// ---- Line-table entries
// One step of a unit's line table: the running line and code offset move by
// these deltas; a new procedure's name follows the entry.
struct LineEntry {
    std::int16_t LineDelta = 1;
    std::uint32_t OffsetDelta = 1;
    bool NewProcedure = false;
    bool operator==(const LineEntry&) const = default;
};

enum class LineEntryForm : std::uint8_t {
    Byte,          // 1 byte, no procedure: line +1..+4, offset +1..+32
    ProcedureByte, // 1 byte, new procedure: line +1..+8, offset +1..+8
    Word,          // 2 bytes: line +1..+32, offset +1..+128
    Long,          // 4 bytes: any line delta, offset 0..4095
    Escape         // 4 + 2 + 2 bytes (version 423 on): any line delta, offset 1..65536
};

// Whether the form can carry the entry (Escape needs version 423 or later).
bool LineEntryFits(const LineEntry& entry, LineEntryForm form, int version = ELDataVersion) noexcept;
// The shortest form that carries the entry; none when the offset delta is above 65536.
std::optional<LineEntryForm> ShortestLineEntryForm(const LineEntry& entry, int version = ELDataVersion) noexcept;
// Appends the entry in the form (which must fit).
void EncodeLineEntry(std::string& out, const LineEntry& entry, LineEntryForm form);
// False when the bytes end inside the entry.
bool DecodeLineEntry(ByteReader& reader, int version, LineEntry& entry) noexcept;

// ---- Debug strings
// How a module's debug strings are scrambled.
struct StringCipher {
    int Version = ELDataVersion;
    // From version 500: true when the reader holds the module's password
    // (the TEA key must be set from it); false shows names as "?" + Base64.
    bool PasswordValid = true;
};
// Appends a name: split into parts of at most 127 bytes at "." (version 502
// on; a part longer than that is cut), scrambled for the version; the TEA key
// must be set from the module's password for version 500 and later.
void EncodeDebugString(std::string& out, std::string_view text, int version);
// Reads a name; false when the bytes end inside it.
bool DecodeDebugString(ByteReader& reader, const StringCipher& cipher, std::string& text);
// Steps over a name without deciphering it.
bool SkipDebugString(ByteReader& reader, int version) noexcept;

// ---- Resource layouts
struct SymbolEntry {
    std::uint8_t Id = 0;
    std::uint32_t CodeOffset = 0;
    std::uint32_t Reserved = 0;
};

// Everything a resource or file tail holds, before compression.
struct ELDataContents {
    std::uint16_t Version = ELDataVersion; // as stored (600..602 allowed)
    std::uint32_t Magic = ELDataMagic;
    double CompilationDate = 0;
    std::uint8_t LeakOptions = 0;
    std::uint8_t LeaksFromMainModule = 0;
    std::vector<SymbolEntry> Symbols;
    std::string OptionsStream;
    std::string Password;       // enciphers the check block (version 500 on)
    std::string DebugInformation;
};
// The "ELDATA" resource's bytes for the stored version's layout.
std::string BuildELDataResource(const ELDataContents& contents);
// The bytes appended to a module file (the file-tail form).
std::string BuildELDataFileTail(const ELDataContents& contents);
// The 4-byte password check block: the magic enciphered under the password.
std::string BuildPasswordCheckBlock(std::string_view password);

// zlib's deflate of a whole buffer.
std::string ZCompressBuffer(std::string_view data);

// ---- Debug information
// One run of one source file with its line table.
struct DebugUnit {
    std::string Name;
    std::uint32_t FirstLine = 0;
    std::uint32_t CodeStart = 0; // offset from the module's first section
    std::uint32_t CodeSize = 0;
    std::string LineTable;       // encoded entries and procedure names
};
// The debug information block for the version (units' names encoded here).
std::string BuildDebugInformation(const std::vector<DebugUnit>& units, int version);

// The class and procedure of a demangled symbol ("ns::Class::Method(int)"
// gives "ns::Class" and "Method"); namespaces are kept with "::" in the
// class; parameters, return types and clone suffixes are dropped.
struct ProcedureName {
    std::string ClassName;
    std::string Procedure;
};
ProcedureName SplitDemangledName(std::string_view symbol);
// "Class.Procedure", or the procedure alone when there is no class.
std::string JoinProcedureName(const ProcedureName& name);

} // namespace kv::crashreport
