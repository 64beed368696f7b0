#include "crashreport/core/EOptionsFiles.h"
#include "crashreport/core/debuginfo/EMapScanner.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kv::crashreport {

// A position in the map text; no step reads past its end.
class TELAbstractMapParser::Cursor {
public:
    explicit Cursor(const std::string& text) : text_(text) {}

    std::size_t At() const noexcept { return at_; }
    bool AtEnd() const noexcept { return at_ >= text_.size(); }
    char Peek() const noexcept { return AtEnd() ? '\0' : text_[at_]; }
    static bool IsBlank(char c) noexcept { return c == ' ' || (c >= 9 && c <= 13); }
    static bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

    void SkipBlanks()
    {
        while (!AtEnd() && IsBlank(text_[at_])) ++at_;
    }
    void NextLine()
    {
        const std::size_t lf = text_.find('\n', at_);
        at_ = lf == std::string::npos ? text_.size() : lf + 1;
        SkipBlanks();
    }
    std::uint32_t Hex()
    {
        std::uint32_t value = 0;
        while (!AtEnd() && std::isxdigit(static_cast<unsigned char>(text_[at_]))) {
            const char c = text_[at_++];
            value = value * 16 + static_cast<std::uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        if (Peek() == 'H' || Peek() == 'h') ++at_;
        return value;
    }
    std::int32_t Decimal()
    {
        std::uint32_t value = 0;
        while (!AtEnd() && IsDigit(text_[at_])) value = value * 10 + static_cast<std::uint32_t>(text_[at_++] - '0');
        return static_cast<std::int32_t>(value);
    }
    TELMapAddress Address()
    {
        TELMapAddress address;
        address.Segment = static_cast<std::uint16_t>(Hex());
        if (Peek() == ':') {
            ++at_;
            address.Offset = Hex();
        }
        return address;
    }
    // A word: its start, and the cursor after it (before the next blank).
    std::size_t Word()
    {
        SkipBlanks();
        const std::size_t start = at_;
        while (!AtEnd() && !IsBlank(text_[at_])) ++at_;
        return start < text_.size() ? start : NoText;
    }
    // The word after the next marker on this line; NoText when the line has
    // no such marker.
    std::size_t WordAfter(const char* marker)
    {
        const std::size_t lineEnd = LineEnd();
        const std::size_t found = text_.find(marker, at_);
        if (found == std::string::npos || found >= lineEnd) return NoText;
        at_ = found + std::strlen(marker);
        return Word();
    }
    std::size_t LineEnd() const
    {
        const std::size_t lf = text_.find('\n', at_);
        return lf == std::string::npos ? text_.size() : lf;
    }
    bool StartsWith(std::string_view words) const { return text_.compare(at_, words.size(), words) == 0; }
    void Skip(std::size_t count) { at_ = std::min(text_.size(), at_ + count); }
    // Moves to the line after the next one that holds the four words in this
    // order; to the end when none does.
    bool FindSection(const char* const (&words)[4])
    {
        while (!AtEnd()) {
            const std::size_t cr = text_.find_first_of("\r\n", at_);
            const std::string_view line(text_.data() + at_, (cr == std::string::npos ? text_.size() : cr) - at_);
            std::size_t from = 0;
            bool all = true;
            for (const char* word : words) {
                const std::size_t found = line.find(word, from);
                if (found == std::string_view::npos) {
                    all = false;
                    break;
                }
                from = found + std::strlen(word);
            }
            NextLine();
            if (all) return true;
        }
        return false;
    }

private:
    const std::string& text_;
    std::size_t at_ = 0;
};

TELAbstractMapParser::TELAbstractMapParser(const std::string& mapFileName)
{
    // A file that cannot be read parses to empty tables.
    if (auto bytes = ReadWholeFile(mapFileName, MaxDebugFileBytes)) FStream = std::move(*bytes);
}

void TELAbstractMapParser::Parse()
{
    FLinkerBug = false;
    Cursor cursor(FStream);
    static constexpr const char* Segments[4] = {"Start", "Length", "Name", "Class"};
    static constexpr const char* Detailed[4] = {"Detailed", "map", "of", "segments"};
    static constexpr const char* ByName[4] = {"Address", "Publics", "by", "Name"};
    static constexpr const char* ByValue[4] = {"Address", "Publics", "by", "Value"};

    if (cursor.FindSection(Segments)) {
        while (Cursor::IsDigit(cursor.Peek())) {
            const TELMapAddress address = cursor.Address();
            cursor.SkipBlanks();
            const std::uint32_t length = cursor.Hex();
            const std::size_t name = cursor.Word();
            const std::size_t className = cursor.Word();
            cursor.NextLine();
            OnSegmentRow(address, length, className, name);
        }
    }
    if (cursor.FindSection(Detailed)) {
        while (Cursor::IsDigit(cursor.Peek())) {
            const TELMapAddress address = cursor.Address();
            cursor.SkipBlanks();
            const std::uint32_t length = cursor.Hex();
            const std::size_t className = cursor.WordAfter("C=");
            const std::size_t module = cursor.WordAfter("M=");
            cursor.NextLine();
            OnDetailedSegmentRow(address, length, module, className);
        }
    }
    for (const auto* words : {&ByName, &ByValue}) {
        if (!cursor.FindSection(*words)) continue;
        while (Cursor::IsDigit(cursor.Peek())) {
            const TELMapAddress address = cursor.Address();
            const std::size_t name = cursor.Word();
            cursor.SkipBlanks();
            if (words == &ByName) OnPublicByNameRow(address, name);
            else OnPublicByValueRow(address, name);
            if (name == NoText) break;
        }
    }
    static constexpr std::string_view LineNumbersFor = "Line numbers for";
    while (cursor.StartsWith(LineNumbersFor)) {
        cursor.Skip(LineNumbersFor.size());
        cursor.SkipBlanks();
        FLastUnitName = cursor.At();
        const std::size_t parenthesis = FStream.find('(', FLastUnitName);
        FLastUnitFileName = parenthesis < cursor.LineEnd() ? parenthesis : NoText;
        cursor.NextLine();
        OnLineNumbersUnit(FLastUnitName, FLastUnitFileName);
        while (Cursor::IsDigit(cursor.Peek())) {
            const std::int32_t line = cursor.Decimal();
            cursor.SkipBlanks();
            const TELMapAddress address = cursor.Address();
            cursor.SkipBlanks();
            OnLineNumberRow(line, address);
        }
    }
}

std::string TELAbstractMapParser::MapStringToStr(std::size_t at) const
{
    if (at == NoText || at >= FStream.size()) return {};
    if (FStream[at] == '(') {
        const std::size_t end = FStream.find_first_of(")\r", at + 1);
        return FStream.substr(at + 1, (end == std::string::npos ? FStream.size() : end) - at - 1);
    }
    const std::size_t end = FStream.find_first_of("\r (", at);
    return FStream.substr(at, (end == std::string::npos ? FStream.size() : end) - at);
}

std::string TELAbstractMapParser::MapStringToFileName(std::size_t at) const
{
    if (at == NoText || at >= FStream.size()) return {};
    std::size_t end = FStream.find_first_of("\r=", at);
    if (end == std::string::npos) end = FStream.size();
    if (end < FStream.size() && FStream[end] == '=') {
        // "name=..." : step back over the spaces and the word before the "=".
        while (end > at && FStream[end - 1] == ' ') --end;
        while (end > at && FStream[end - 1] != ' ') --end;
        while (end > at && FStream[end - 1] == ' ') --end;
    }
    std::string text = FStream.substr(at, end - at);
    const std::size_t dot = text.find_last_of(".|");
    if (dot != std::string::npos) text.erase(dot);
    const std::size_t slash = text.find_last_of("\\|");
    if (slash != std::string::npos) text.erase(0, slash + 1);
    return text;
}

TELMapScanner::TELMapScanner(const std::string& mapFileName) : TELAbstractMapParser(mapFileName)
{
    Parse();
    FProcNames.shrink_to_fit();
    FLineNumbers.shrink_to_fit();
}

void TELMapScanner::OnDetailedSegmentRow(const TELMapAddress& address, std::uint32_t length, std::size_t moduleText,
                                         std::size_t)
{
    if (address.Segment != 1) return;
    const std::uint32_t end = address.Offset + length;
    FSegments.push_back({address.Offset, end, moduleText});
    FTopValidAddr = std::max(FTopValidAddr, end);
}

void TELMapScanner::OnPublicByValueRow(const TELMapAddress& address, std::size_t nameText)
{
    if (address.Segment != 1) return;
    FProcNames.push_back({static_cast<std::int32_t>(address.Offset), nameText});
}

void TELMapScanner::OnLineNumbersUnit(std::size_t, std::size_t unitFileText) { FNewUnitFileName = unitFileText; }

void TELMapScanner::OnLineNumberRow(std::int32_t lineNumber, const TELMapAddress& address)
{
    if (FLastValidAddr.Offset != 0) {
        const auto offset = static_cast<std::int32_t>(address.Offset);
        if (offset <= 0 || address.Offset > FTopValidAddr || address.Segment != FLastValidAddr.Segment ||
            address.Offset <= FLastValidAddr.Offset) {
            ++FLineNumberErrors;
            return;
        }
    }
    FLastValidAddr = address;
    FLineNumbers.push_back({static_cast<std::int32_t>(address.Offset), lineNumber});
    if (FNewUnitFileName != NoText) {
        FSourceNames.push_back({static_cast<std::int32_t>(address.Offset), FNewUnitFileName});
        FNewUnitFileName = NoText;
    }
}

const TELMapScanner::Segment* TELMapScanner::SegmentOf(std::uint32_t addr) const
{
    for (auto it = FSegments.rbegin(); it != FSegments.rend(); ++it)
        if (it->Start <= addr && addr <= it->End) return &*it;
    return nullptr;
}

std::uint32_t TELMapScanner::ModuleStartFromAddr(std::uint32_t addr) const
{
    const Segment* segment = SegmentOf(addr);
    return segment != nullptr ? segment->Start : 0xFFFFFFFFu;
}

std::string TELMapScanner::ModuleNameFromAddr(std::uint32_t addr) const
{
    const Segment* segment = SegmentOf(addr);
    return segment != nullptr ? MapStringToStr(segment->Name) : std::string();
}

template <class Entry>
const Entry* TELMapScanner::NearestInModule(const std::vector<Entry>& entries, std::uint32_t addr) const
{
    const int index = NearestEntryIndex(entries, static_cast<std::int32_t>(addr));
    if (index < 0) return nullptr;
    const Entry& entry = entries[static_cast<std::size_t>(index)];
    return entry.Offset >= static_cast<std::int32_t>(ModuleStartFromAddr(addr)) ? &entry : nullptr;
}

std::string TELMapScanner::ProcNameFromAddr(std::uint32_t addr, std::int32_t& offset) const
{
    const Named* entry = NearestInModule(FProcNames, addr);
    offset = entry != nullptr ? static_cast<std::int32_t>(addr - static_cast<std::uint32_t>(entry->Offset)) : 0;
    return entry != nullptr ? MapStringToStr(entry->Name) : std::string();
}

std::int32_t TELMapScanner::LineNumberFromAddr(std::uint32_t addr, std::int32_t& offset) const
{
    const LineEntry* entry = NearestInModule(FLineNumbers, addr);
    offset = entry != nullptr ? static_cast<std::int32_t>(addr - static_cast<std::uint32_t>(entry->Offset)) : 0;
    return entry != nullptr ? entry->LineNumber : 0;
}

std::string TELMapScanner::SourceNameFromAddr(std::uint32_t addr) const
{
    const Named* entry = NearestInModule(FSourceNames, addr);
    return entry != nullptr ? MapStringToStr(entry->Name) : std::string();
}

TELDebugInfoMap::TELDebugInfoMap(HMODULE module) : TELReaderSource(module) { LoadDebugData(); }

bool TELDebugInfoMap::LoadDebugData()
{
    const std::string fileName = FileName();
    const std::string mapName = ChangeFileExt(fileName, ".map");
    const DWORD attributes = fileName.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesA(mapName.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        FScanner.reset();
        return false;
    }
    FScanner = std::make_unique<TELMapScanner>(mapName);
    return true;
}

} // namespace kv::crashreport
