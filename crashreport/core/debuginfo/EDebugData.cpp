#include "crashreport/core/debuginfo/EDebugData.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>

#include "crashreport/core/EBase64.h"
#include "crashreport/core/EEncrypt.h"

namespace kv::crashreport {
namespace {

constexpr std::uint32_t kEscapeValue = 0x0FFEFFFE; // the Long form's value that announces two words
constexpr int kEscapeVersion = 423;
constexpr std::uint32_t kLongZeroOffset = 4095;     // a Long form's offset field for "no move"
constexpr std::size_t kPartLimit = 127;
constexpr std::size_t kStringLimit = 255;

bool HasParts(int version) { return version > 501; }

std::uint16_t LineField(std::int16_t delta) { return static_cast<std::uint16_t>(delta - 1); }

} // namespace

std::uint16_t NormalizeELDataVersion(std::uint16_t stored) noexcept
{
    return stored >= 600 && stored <= 602 ? static_cast<std::uint16_t>(stored % 600 + 6000) : stored;
}

bool ByteReader::Skip(std::size_t count) noexcept
{
    if (count > Remaining()) return false;
    position_ += count;
    return true;
}

bool ByteReader::Bytes(void* target, std::size_t count) noexcept
{
    if (count > Remaining()) return false;
    std::memcpy(target, data_ + position_, count);
    position_ += count;
    return true;
}

void AppendU8(std::string& out, std::uint8_t value) { out.push_back(static_cast<char>(value)); }
void AppendU16(std::string& out, std::uint16_t value) { out.append(reinterpret_cast<const char*>(&value), 2); }
void AppendU32(std::string& out, std::uint32_t value) { out.append(reinterpret_cast<const char*>(&value), 4); }
void AppendF64(std::string& out, double value) { out.append(reinterpret_cast<const char*>(&value), 8); }

// ---- Line entries

bool LineEntryFits(const LineEntry& entry, LineEntryForm form, int version) noexcept
{
    const int line = entry.LineDelta;
    const std::uint32_t offset = entry.OffsetDelta;
    switch (form) {
    case LineEntryForm::Byte:
        return !entry.NewProcedure && line >= 1 && line <= 4 && offset >= 1 && offset <= 32;
    case LineEntryForm::ProcedureByte:
        return entry.NewProcedure && line >= 1 && line <= 8 && offset >= 1 && offset <= 8;
    case LineEntryForm::Word:
        return line >= 1 && line <= 32 && offset >= 1 && offset <= 128;
    case LineEntryForm::Long: {
        if (offset > 4095) return false;
        // Line -1 with offset 4095 would read as the escape.
        const std::uint32_t field = offset == 0 ? kLongZeroOffset : offset - 1;
        const std::uint32_t value = field << 16 | LineField(entry.LineDelta);
        return !(version >= kEscapeVersion && value == kEscapeValue);
    }
    case LineEntryForm::Escape:
        return version >= kEscapeVersion && offset >= 1 && offset <= 65536;
    }
    return false;
}

std::optional<LineEntryForm> ShortestLineEntryForm(const LineEntry& entry, int version) noexcept
{
    for (LineEntryForm form : {LineEntryForm::Byte, LineEntryForm::ProcedureByte, LineEntryForm::Word,
                               LineEntryForm::Long, LineEntryForm::Escape})
        if (LineEntryFits(entry, form, version)) return form;
    return std::nullopt;
}

void EncodeLineEntry(std::string& out, const LineEntry& entry, LineEntryForm form)
{
    if (!LineEntryFits(entry, form)) throw std::invalid_argument("line entry does not fit its form");
    const std::uint32_t line = static_cast<std::uint32_t>(entry.LineDelta - 1);
    const std::uint32_t offset = entry.OffsetDelta - 1;
    const std::uint32_t procedure = entry.NewProcedure ? 4 : 0;
    switch (form) {
    case LineEntryForm::Byte:
        AppendU8(out, static_cast<std::uint8_t>(line << 6 | offset << 1));
        return;
    case LineEntryForm::ProcedureByte:
        AppendU8(out, static_cast<std::uint8_t>(line << 5 | offset << 2 | 1));
        return;
    case LineEntryForm::Word:
        AppendU16(out, static_cast<std::uint16_t>(line << 11 | offset << 4 | procedure | 3));
        return;
    case LineEntryForm::Long: {
        const std::uint32_t field = entry.OffsetDelta == 0 ? kLongZeroOffset : offset;
        AppendU32(out, (field << 16 | LineField(entry.LineDelta)) << 4 | 8 | procedure | 3);
        return;
    }
    case LineEntryForm::Escape:
        AppendU32(out, kEscapeValue << 4 | 8 | procedure | 3);
        AppendU16(out, LineField(entry.LineDelta));
        AppendU16(out, static_cast<std::uint16_t>(offset));
        return;
    }
}

bool DecodeLineEntry(ByteReader& reader, int version, LineEntry& entry) noexcept
{
    std::uint8_t flags = 0;
    if (reader.Remaining() < 1) return false;
    flags = *reader.Current();
    if ((flags & 1) == 0) {
        reader.Skip(1);
        entry = {static_cast<std::int16_t>((flags >> 6) + 1), static_cast<std::uint32_t>((flags >> 1 & 0x1F) + 1),
                 false};
        return true;
    }
    if ((flags & 2) == 0) {
        reader.Skip(1);
        entry = {static_cast<std::int16_t>((flags >> 5) + 1), static_cast<std::uint32_t>((flags >> 2 & 7) + 1), true};
        return true;
    }
    entry.NewProcedure = (flags & 4) != 0;
    if ((flags & 8) == 0) {
        std::uint16_t word = 0;
        if (!reader.U16(word)) return false;
        entry.LineDelta = static_cast<std::int16_t>((word >> 11) + 1);
        entry.OffsetDelta = (word >> 4 & 0x7F) + 1u;
        return true;
    }
    std::uint32_t value = 0;
    if (!reader.U32(value)) return false;
    const std::uint32_t v4 = value >> 4;
    if (v4 == kEscapeValue && version >= kEscapeVersion) {
        std::uint16_t line = 0, offset = 0;
        if (!reader.U16(line) || !reader.U16(offset)) return false;
        entry.LineDelta = static_cast<std::int16_t>(line + 1);
        entry.OffsetDelta = offset + 1u;
        return true;
    }
    entry.LineDelta = static_cast<std::int16_t>((v4 & 0xFFFF) + 1);
    const std::uint32_t field = v4 >> 16 & 0xFFF;
    entry.OffsetDelta = field == kLongZeroOffset ? 0 : field + 1;
    return true;
}

// ---- Debug strings

namespace {

void AppendPart(std::string& out, std::string_view part, bool more, int version)
{
    std::string bytes(part);
    if (version < 500) {
        for (char& c : bytes) c = static_cast<char>(c ^ OldDebugStringKey);
    } else if (!bytes.empty()) {
        TEAEncryptBuffer(bytes.data(), bytes.data(), bytes.size());
    }
    AppendU8(out, static_cast<std::uint8_t>(bytes.size() | (more ? 0x80 : 0)));
    out += bytes;
}

} // namespace

void EncodeDebugString(std::string& out, std::string_view text, int version)
{
    if (!HasParts(version)) {
        AppendPart(out, text.substr(0, kStringLimit), false, version);
        return;
    }
    for (;;) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        AppendPart(out, part.substr(0, kPartLimit), dot != std::string_view::npos, version);
        if (dot == std::string_view::npos) return;
        text.remove_prefix(dot + 1);
    }
}

bool DecodeDebugString(ByteReader& reader, const StringCipher& cipher, std::string& text)
{
    text.clear();
    for (;;) {
        std::uint8_t length = 0;
        if (!reader.U8(length)) return false;
        bool more = false;
        if (HasParts(cipher.Version)) {
            more = (length & 0x80) != 0;
            length &= 0x7F;
        }
        std::string part(length, '\0');
        if (!reader.Bytes(part.data(), length)) return false;
        if (cipher.Version < 500) {
            for (char& c : part) c = static_cast<char>(c ^ OldDebugStringKey);
        } else if (cipher.PasswordValid) {
            TEADecryptBuffer(part.data(), part.data(), part.size());
        } else if (!part.empty()) {
            part = ("?" + Base64EncodeBuffer(part.data(), part.size())).substr(0, kStringLimit);
        }
        text += part;
        if (!more) return true;
        text += '.';
    }
}

bool SkipDebugString(ByteReader& reader, int version) noexcept
{
    for (;;) {
        std::uint8_t length = 0;
        if (!reader.U8(length)) return false;
        const bool more = HasParts(version) && (length & 0x80) != 0;
        if (HasParts(version)) length &= 0x7F;
        if (!reader.Skip(length)) return false;
        if (!more) return true;
    }
}

// ---- Resources

std::string ZCompressBuffer(std::string_view data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                  static_cast<uLong>(data.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("deflate failed");
    out.resize(size);
    return out;
}

std::string BuildPasswordCheckBlock(std::string_view password)
{
    TEASetKey(password);
    std::string block;
    AppendU32(block, ELDataMagic);
    TEAEncryptBuffer(block.data(), block.data(), block.size());
    return block;
}

std::string BuildELDataResource(const ELDataContents& c)
{
    const int version = NormalizeELDataVersion(c.Version);
    std::string out;
    AppendU32(out, c.Magic);
    AppendU16(out, c.Version);
    AppendF64(out, c.CompilationDate);
    std::string debugBlock;
    AppendU32(debugBlock, static_cast<std::uint32_t>(c.DebugInformation.size()));
    debugBlock += c.DebugInformation;
    if (version < 500) {
        const std::string body = c.OptionsStream + debugBlock;
        out += version < 450 ? body : ZCompressBuffer(body);
        return out;
    }
    if (version >= 6000) {
        AppendU8(out, c.LeakOptions);
        AppendU8(out, c.LeaksFromMainModule);
    }
    AppendU32(out, static_cast<std::uint32_t>(c.Symbols.size() * 9));
    for (const SymbolEntry& symbol : c.Symbols) {
        AppendU8(out, symbol.Id);
        AppendU32(out, symbol.CodeOffset);
        AppendU32(out, symbol.Reserved);
    }
    const std::string options = ZCompressBuffer(c.OptionsStream);
    AppendU32(out, static_cast<std::uint32_t>(options.size()));
    out += options;
    out += BuildPasswordCheckBlock(c.Password);
    out += ZCompressBuffer(debugBlock);
    return out;
}

std::string BuildELDataFileTail(const ELDataContents& c)
{
    std::string block;
    AppendU16(block, c.Version);
    AppendF64(block, c.CompilationDate);
    block += c.OptionsStream;
    AppendU32(block, static_cast<std::uint32_t>(c.DebugInformation.size()));
    block += c.DebugInformation;
    std::string out = block;
    AppendU32(out, static_cast<std::uint32_t>(block.size()));
    AppendU32(out, c.Magic);
    return out;
}

std::string BuildDebugInformation(const std::vector<DebugUnit>& units, int version)
{
    std::string out;
    if (version > 404 && version < 500) AppendU32(out, 0);
    AppendU32(out, static_cast<std::uint32_t>(units.size()));
    for (const DebugUnit& unit : units) {
        EncodeDebugString(out, unit.Name, version);
        AppendU32(out, unit.FirstLine);
        AppendU32(out, unit.CodeStart);
        AppendU32(out, unit.CodeSize);
        AppendU32(out, static_cast<std::uint32_t>(unit.LineTable.size()));
        out += unit.LineTable;
    }
    return out;
}

// ---- Names

namespace {

bool Opens(char c) { return c == '<' || c == '(' || c == '[' || c == '{'; }
bool Closes(char c) { return c == '>' || c == ')' || c == ']' || c == '}'; }

// "operator<", "operator()" and friends hold brackets that do not nest, and
// "operator new" a blank that ends no return type.
bool InsideOperatorName(std::string_view text, std::size_t at)
{
    constexpr std::string_view kOperatorChars = "<>()[]=!+-*/%^&|~, ";
    if (kOperatorChars.find(text[at]) == std::string_view::npos) return false;
    std::size_t start = at;
    while (start > 0 && at - start < 4 && kOperatorChars.find(text[start - 1]) != std::string_view::npos) --start;
    return start >= 8 && text.substr(start - 8, 8) == "operator";
}

std::string_view TrimRight(std::string_view text)
{
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// The position of the '(' that matches the ')' at `close`; npos when none.
std::size_t MatchingOpen(std::string_view text, std::size_t close)
{
    int depth = 0;
    for (std::size_t i = close + 1; i-- > 0;) {
        if (text[i] == ')') ++depth;
        else if (text[i] == '(' && --depth == 0) return i;
    }
    return std::string_view::npos;
}

} // namespace

ProcedureName SplitDemangledName(std::string_view symbol)
{
    std::string_view name = symbol;
    if (const std::size_t clone = name.find(" [clone "); clone != std::string_view::npos) name = name.substr(0, clone);
    name = TrimRight(name);
    for (std::string_view suffix : {" const", " volatile", " &&", " &", "&&", "&"})
        while (name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix)
            name = TrimRight(name.substr(0, name.size() - suffix.size()));
    if (!name.empty() && name.back() == ')') {
        const std::size_t open = MatchingOpen(name, name.size() - 1);
        if (open != std::string_view::npos && open > 0) name = name.substr(0, open);
    }
    // Components at "::" outside brackets; a blank outside brackets ends a
    // return type, unless it belongs to "operator new" and the like.
    std::vector<std::string> parts(1);
    int depth = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool operatorText = InsideOperatorName(name, i);
        if (!operatorText && Opens(c)) ++depth;
        else if (!operatorText && Closes(c) && depth > 0) --depth;
        if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') {
            parts.emplace_back();
            ++i;
            continue;
        }
        if (depth == 0 && c == ' ' && !operatorText) {
            parts.assign(1, std::string());
            continue;
        }
        parts.back() += c;
    }
    ProcedureName result;
    result.Procedure = parts.back();
    parts.pop_back();
    for (const std::string& part : parts) result.ClassName += (result.ClassName.empty() ? "" : "::") + part;
    // A "." would split the stored name in the wrong place.
    for (std::string* text : {&result.ClassName, &result.Procedure})
        for (char& c : *text)
            if (c == '.') c = '_';
    return result;
}

std::string JoinProcedureName(const ProcedureName& name)
{
    return name.ClassName.empty() ? name.Procedure : name.ClassName + "." + name.Procedure;
}

} // namespace kv::crashreport
