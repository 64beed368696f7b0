#include "crashreport/core/debuginfo/EDebug.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <vector>

#include "crashreport/core/EErrors.h"
#include "crashreport/core/EEvents.h"
#include "crashreport/core/EHook.h"
#include "crashreport/core/ESharedOptions.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/EEncrypt.h"
#include "crashreport/core/EOptionsStream.h"
#include "crashreport/core/EZlib.h"
#include "crashreport/core/debuginfo/EDebugData.h"
#include "crashreport/core/debuginfo/EModules.h"
#include "platform/Handles.h"

namespace kv::crashreport {
namespace {

// Every source file under crashreport/, listed by the build.
constexpr const char* kReporterUnits[] = {
#include "ReporterUnits.inc"
};

constexpr std::uint32_t kFirstSectionOffset = 0x1000;

PasswordRequestHooks g_passwordHooks;

void UseKeyOf(const std::string& password)
{
    if (!TEAKeyIsFrom(password)) TEASetKey(password);
}

bool LessNoCase(std::string_view a, std::string_view b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return ::CharUpperA(reinterpret_cast<LPSTR>(static_cast<std::uintptr_t>(static_cast<unsigned char>(x)))) <
               ::CharUpperA(reinterpret_cast<LPSTR>(static_cast<std::uintptr_t>(static_cast<unsigned char>(y))));
    });
}

// The raw bytes of a module's "ELDATA" resource; empty when it has none.
std::string_view ResourceBytes(HMODULE module)
{
    HRSRC resource = ::FindResourceA(module, "ELDATA", MAKEINTRESOURCEA(10)); // RT_RCDATA
    if (resource == nullptr) return {};
    HGLOBAL loaded = ::LoadResource(module, resource);
    const DWORD size = ::SizeofResource(module, resource);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (data == nullptr || size == 0) return {};
    return {static_cast<const char*>(data), size};
}

std::optional<std::uint32_t> ReadMagic(std::string_view bytes)
{
    if (bytes.size() < 4) return std::nullopt;
    std::uint32_t magic;
    std::memcpy(&magic, bytes.data(), 4);
    return magic;
}

// The file-tail block of a module's file: version onwards; empty when none.
std::string FileTailBlock(const std::string& fileName)
{
    FileHandle file(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) return {};
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 8) return {};
    auto readAt = [&](std::int64_t position, void* target, DWORD count) {
        LARGE_INTEGER at;
        at.QuadPart = position;
        DWORD done = 0;
        return ::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) &&
               ::ReadFile(file.Get(), target, count, &done, nullptr) && done == count;
    };
    std::uint32_t trailer[2];
    if (!readAt(size.QuadPart - 8, trailer, 8) || !IsELDataMagic(trailer[1])) return {};
    const std::uint32_t blockSize = trailer[0];
    if (blockSize < 10 || blockSize > size.QuadPart - 8 || blockSize > (64u << 20)) return {};
    std::string block(blockSize, '\0');
    if (!readAt(size.QuadPart - 8 - blockSize, block.data(), blockSize)) return {};
    return block;
}

// The options stream at the reader's position, read with the version's layout.
void LoadOptions(TOspreyModuleInfo& module, const void* data, std::size_t size, std::size_t& consumed, int version)
{
    MemoryStream stream(std::string(static_cast<const char*>(data), size));
    OptionsStreamVersion = static_cast<std::uint16_t>(version);
    module.ExtraInformation.Options->LoadFromStream(stream);
    consumed = static_cast<std::size_t>(stream.Position());
}

bool ReadDebugBlock(TOspreyModuleInfo& module, ByteReader& reader)
{
    module.ExtraInformation.UnitPlaces.clear();
    if (ModulesListRebuilding()) {
        module.ExtraInformation.DebugInformation.reset();
        return true;
    }
    std::uint32_t size = 0;
    if (!reader.U32(size) || size > reader.Remaining()) return false;
    module.ExtraInformation.DebugInformation.reset();
    if (size > 0)
        module.ExtraInformation.DebugInformation =
            std::make_unique<MemoryStream>(std::string(reinterpret_cast<const char*>(reader.Current()), size));
    return true;
}

void CheckPassword(TOspreyModuleInfo& module, const std::uint8_t (&block)[4])
{
    auto check = [&] {
        UseKeyOf(module.EncryptPassword);
        std::uint8_t plain[4];
        TEADecryptBuffer(block, plain, 4);
        std::uint32_t value;
        std::memcpy(&value, plain, 4);
        module.IsValidEncryptPassword = IsELDataMagic(value);
    };
    std::string password;
    if (g_passwordHooks.AskModule != nullptr) g_passwordHooks.AskModule(module.Handle, password);
    module.EncryptPassword = password;
    check();
    if (!module.IsValidEncryptPassword && module.Handle != OwnModuleHandle() && g_passwordHooks.AskOwnHandlers != nullptr) {
        g_passwordHooks.AskOwnHandlers(module.Handle, password);
        module.EncryptPassword = password;
        check();
    }
}

bool ReadResourceForm(TOspreyModuleInfo& module, std::string_view bytes)
{
    ByteReader reader(bytes.data(), bytes.size());
    std::uint32_t magic = 0;
    std::uint16_t stored = 0;
    double date = 0;
    if (!reader.U32(magic) || !IsELDataMagic(magic) || !reader.U16(stored) || !reader.F64(date)) return false;
    const int version = NormalizeELDataVersion(stored);
    if (version > ReporterVersion) return false;
    module.ExtraInformation.OspreyVersion = static_cast<std::uint16_t>(version);
    module.ExtraInformation.CompilationDate = date;
    if (version >= 6000 && !reader.Skip(2)) return false;

    std::string body; // what follows the header, inflated where the layout compresses it
    if (version >= 500) {
        std::uint32_t symbolsSize = 0, optionsSize = 0;
        if (!reader.U32(symbolsSize) || !reader.Skip(symbolsSize) || !reader.U32(optionsSize) ||
            optionsSize > reader.Remaining())
            return false;
        const std::string options = ZDecompressBuffer(reader.Current(), optionsSize);
        if (options.empty()) return false;
        reader.Skip(optionsSize);
        std::size_t consumed = 0;
        LoadOptions(module, options.data(), options.size(), consumed, version);
        std::uint8_t block[4];
        if (!reader.Bytes(block, 4)) return false;
        if (!ModulesListRebuilding()) CheckPassword(module, block);
        if (ModulesListRebuilding()) return ReadDebugBlock(module, reader);
        body = ZDecompressBuffer(reader.Current(), reader.Remaining());
        if (body.empty()) return false;
        ByteReader debug(body.data(), body.size());
        return ReadDebugBlock(module, debug);
    }
    if (version < 450) {
        body.assign(reinterpret_cast<const char*>(reader.Current()), reader.Remaining());
    } else {
        body = ZDecompressBuffer(reader.Current(), reader.Remaining());
        if (body.empty()) return false;
    }
    std::size_t consumed = 0;
    LoadOptions(module, body.data(), body.size(), consumed, version);
    ByteReader debug(body.data(), body.size());
    debug.Skip(consumed);
    return ReadDebugBlock(module, debug);
}

bool ReadFileTailForm(TOspreyModuleInfo& module)
{
    const std::string block = FileTailBlock(module.Name);
    if (block.empty()) return false;
    ByteReader reader(block.data(), block.size());
    std::uint16_t stored = 0;
    double date = 0;
    if (!reader.U16(stored) || !reader.F64(date)) return false;
    const int version = NormalizeELDataVersion(stored);
    if (version > ReporterVersion) return false;
    module.ExtraInformation.OspreyVersion = static_cast<std::uint16_t>(version);
    module.ExtraInformation.CompilationDate = date;
    std::size_t consumed = 0;
    LoadOptions(module, reader.Current(), reader.Remaining(), consumed, version);
    reader.Skip(consumed);
    return ReadDebugBlock(module, reader);
}

// ---- Lookup in own data

struct Procedure {
    std::string ClassName;
    std::string Name;
    std::uint32_t FirstLine = 0;
    std::uint32_t Start = 0;
};

void SplitProcedure(const std::string& text, const Procedure* previous, Procedure& out)
{
    if (!text.empty() && text[0] == '.') {
        out.ClassName = previous ? previous->ClassName : std::string();
        out.Name = text.substr(1);
    } else if (const std::size_t dot = text.find('.'); dot != std::string::npos) {
        out.ClassName = text.substr(0, dot);
        out.Name = text.substr(dot + 1);
    } else {
        out.ClassName.clear();
        out.Name = text;
    }
    if (!out.Name.empty() && out.Name[0] == '@') out.Name[0] = '_';
}

bool StartsWithFrame(const void* code)
{
    static constexpr std::uint8_t kBorlandFrame[] = {0x55, 0x8B, 0xEC};
    static constexpr std::uint8_t kGccFrame[] = {0x55, 0x89, 0xE5};
    if (!IsReadableMemory(code, 3)) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(code);
    return std::memcmp(bytes, kBorlandFrame, 3) == 0 || std::memcmp(bytes, kGccFrame, 3) == 0 || bytes[0] == 0x53;
}

struct UnitHeader {
    std::string Name;
    std::uint32_t FirstLine = 0, CodeStart = 0, CodeSize = 0, TableSize = 0;
};

// Decodes one unit's table for `offset` (module-relative, from the first section).
bool LookUpInUnit(const TOspreyModuleInfo& module, const UnitHeader& unit, ByteReader table, const StringCipher& cipher,
                  std::uint32_t offset, TOspreyDebugInfo& info)
{
    // The first procedure's name serves before the first procedure starts.
    Procedure leading;
    {
        ByteReader scan = table;
        LineEntry entry;
        std::string text;
        while (scan.Remaining() > 0 && DecodeLineEntry(scan, cipher.Version, entry)) {
            if (!entry.NewProcedure) continue;
            if (DecodeDebugString(scan, cipher, text)) SplitProcedure(text, nullptr, leading);
            break;
        }
    }
    std::optional<Procedure> current, pending;
    bool procedureRead = false;
    std::uint32_t line = unit.FirstLine, running = unit.CodeStart;

    auto fill = [&](std::uint32_t hitLine) {
        const Procedure& procedure = current ? *current : leading;
        info.DebugDetail = ddSourceCode;
        info.UnitName = unit.Name;
        info.ClassName = ShortText(procedure.ClassName);
        info.ProcedureName = ShortText(procedure.Name);
        info.Line = hitLine;
        std::int64_t procOffset = 0;
        if (procedureRead) {
            std::int64_t first = current ? current->FirstLine : 0;
            if (current) {
                const void* code = reinterpret_cast<const std::uint8_t*>(module.Handle) + kFirstSectionOffset + current->Start;
                if (current->Name == "Finalization" || (current->Name != "Initialization" && !StartsWithFrame(code))) --first;
            }
            procOffset = std::int64_t(hitLine) - first;
        }
        info.ProcOffsetLine = procOffset < 0 ? 0 : static_cast<std::uint32_t>(procOffset);
        return true;
    };

    LineEntry entry;
    std::string text;
    while (table.Remaining() > 0) {
        if (pending) {
            current = std::move(pending);
            pending.reset();
        }
        const std::uint32_t previousLine = line, previousOffset = running;
        if (!DecodeLineEntry(table, cipher.Version, entry)) return false;
        line = static_cast<std::uint32_t>(static_cast<std::int64_t>(line) + entry.LineDelta);
        running += entry.OffsetDelta;
        if (entry.NewProcedure) {
            if (!DecodeDebugString(table, cipher, text)) return false;
            Procedure next;
            SplitProcedure(text, current ? &*current : nullptr, next);
            next.FirstLine = line;
            next.Start = running;
            pending = std::move(next);
            procedureRead = true;
        }
        if (offset >= previousOffset && running > previousOffset && offset <= running - 1) return fill(previousLine);
    }
    if (pending) current = std::move(pending);
    if (offset >= running && offset - unit.CodeStart < unit.CodeSize) return fill(line);
    return false;
}

std::string StoredUnitName(const std::string& name, bool passwordValid)
{
    if (!passwordValid) return name.empty() ? name : name.substr(0, 1) + "p" + name.substr(1);
    if (name.find('.') == std::string::npos) return name + std::string(UnitSourceExtension);
    return name;
}

void SplitExportParts(const std::vector<std::string>& parts, TOspreyDebugInfo& info)
{
    if (parts.size() != 2 && parts.size() != 3) return;
    info.UnitName = ShortText(parts[0] + std::string(UnitSourceExtension));
    info.ClassName = parts.size() == 3 ? ShortText(parts[1]) : std::string();
    info.ProcedureName = ShortText(parts.back());
    info.DebugDetail = ddUnitAndProcedure;
}

std::vector<std::string> SplitAtDots(std::string_view text)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == '.') parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

TOspreyFunctionInfo* FindExport(TOspreyFunctionsList& list, std::uintptr_t address)
{
    int low = 0, high = list.Count() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        TOspreyFunctionInfo* function = list[middle];
        const auto start = reinterpret_cast<std::uintptr_t>(function->Address);
        // Measured when first needed: up to the first return instruction.
        if (function->Size == 0)
            function->Size = static_cast<std::uint32_t>(CodeSizeToReturn(function->Address, INT_MAX - 64));
        if (address >= start && address <= start + function->Size) return function;
        if (address < start) high = middle - 1;
        else low = middle + 1;
    }
    return nullptr;
}

} // namespace

bool IsHiddenUnit(std::string_view unitName)
{
    static const std::vector<std::string_view> sorted = [] {
        std::vector<std::string_view> names(std::begin(kReporterUnits), std::end(kReporterUnits));
        std::sort(names.begin(), names.end(), LessNoCase);
        return names;
    }();
    return std::binary_search(sorted.begin(), sorted.end(), unitName, LessNoCase);
}

void SetPasswordRequestHooks(const PasswordRequestHooks& hooks) noexcept { g_passwordHooks = hooks; }

namespace {

int NormalizedDataVersion(HMODULE module)
{
    try {
        return NormalizeELDataVersion(GetReporterDataVersion(module));
    } catch (...) {
        return 0;
    }
}

bool AskModuleThroughEvents(HMODULE module, std::string& password)
{
    SetPasswordRequestModule(module);
    EventPassword() = password;
    RunOnExceptionThread(FirePasswordRequest);
    password = EventPassword();
    SetPasswordRequestModule(nullptr);
    return true;
}

void AskOwnHandlersThroughEvents(HMODULE, std::string& password)
{
    EventPassword() = password;
    RunOnExceptionThread(DispatchPasswordRequest);
    password = EventPassword();
}

} // namespace

void InstallReporterDataEvents()
{
    SetReporterDataVersionReader(NormalizedDataVersion);
    SetPasswordRequestHooks({AskModuleThroughEvents, AskOwnHandlersThroughEvents});
}

bool HasReporterData(HMODULE module)
{
    if (const auto magic = ReadMagic(ResourceBytes(module))) return IsELDataMagic(*magic);
    return !FileTailBlock(GetModuleFullName(module)).empty();
}

std::uint16_t GetReporterDataVersion(HMODULE module)
{
    const std::string_view bytes = ResourceBytes(module);
    if (bytes.size() >= 6 && IsELDataMagic(*ReadMagic(bytes))) {
        std::uint16_t version;
        std::memcpy(&version, bytes.data() + 4, 2);
        return version;
    }
    const std::string block = FileTailBlock(GetModuleFullName(module));
    if (block.size() < 2) return 0;
    std::uint16_t version;
    std::memcpy(&version, block.data(), 2);
    return version;
}

bool HasCompatibleReporterData(HMODULE module)
{
    return HasReporterData(module) && GetReporterDataVersion(module) >= ReporterVersion;
}

bool ReadModuleData(TOspreyModuleInfo& module)
{
    bool read = false;
    try {
        if (!module.ExtraInformation.Options)
            module.ExtraInformation.Options = std::make_unique<TOspreyModuleOptionsEx>(module.Name);
        const std::string_view resource = ResourceBytes(module.Handle);
        read = resource.empty() ? ReadFileTailForm(module) : ReadResourceForm(module, resource);
    } catch (...) {
        read = false;
    }
    if (!read) {
        module.ExtraInformation.DebugInformation.reset();
        module.ExtraInformation.UnitPlaces.clear();
        return false;
    }
    if (module.Handle != OwnModuleHandle()) {
        try {
            LoadSharedOptions(*module.ExtraInformation.Options);
        } catch (...) {
        }
    }
    return true;
}

bool ReadReporterDataResource(TOspreyModuleInfo& module, std::string_view resource)
{
    try {
        if (!module.ExtraInformation.Options)
            module.ExtraInformation.Options = std::make_unique<TOspreyModuleOptionsEx>(module.Name);
        if (ReadResourceForm(module, resource)) return true;
    } catch (...) {
    }
    module.ExtraInformation.DebugInformation.reset();
    return false;
}

const void* FindDebugDataItem(std::uint8_t id)
{
    const std::string_view bytes = ResourceBytes(OwnModuleHandle());
    ByteReader reader(bytes.data(), bytes.size());
    std::uint32_t magic = 0, size = 0;
    if (!reader.U32(magic) || !IsELDataMagic(magic) || !reader.Skip(2 + 8 + 2) || !reader.U32(size)) return nullptr;
    ByteReader directory(reader.Current(), std::min<std::size_t>(size, reader.Remaining()));
    SymbolEntry entry;
    while (directory.U8(entry.Id) && directory.U32(entry.CodeOffset) && directory.U32(entry.Reserved))
        if (entry.Id == id)
            return reinterpret_cast<const std::uint8_t*>(OwnModuleHandle()) + kFirstSectionOffset + entry.CodeOffset;
    return nullptr;
}

bool GetOwnDebugInfo(TOspreyModuleInfo& module, std::uint32_t address, TOspreyDebugInfo& info)
{
    const MemoryStream* data = module.ExtraInformation.DebugInformation.get();
    if (data == nullptr) return false;
    const int version = module.ExtraInformation.OspreyVersion;
    const StringCipher cipher{version, module.IsValidEncryptPassword};
    if (version >= 500 && module.IsValidEncryptPassword) UseKeyOf(module.EncryptPassword);
    const std::uint32_t offset = address - reinterpret_cast<std::uint32_t>(module.Handle) - kFirstSectionOffset;
    const std::string& bytes = data->Data();

    auto& places = module.ExtraInformation.UnitPlaces;
    auto& largest = module.ExtraInformation.LargestUnit;
    if (places.empty()) {
        // One walk over the unit records; a damaged record ends the walk and
        // the records before it still serve.
        ByteReader reader(bytes.data(), bytes.size());
        std::uint32_t skip = 0, units = 0;
        if (version > 404 && version < 500 && (!reader.U32(skip) || !reader.Skip(skip))) return false;
        if (!reader.U32(units)) return false;
        for (std::uint32_t i = 0; i < units; ++i) {
            TDebugUnitPlace place;
            place.RecordOffset = static_cast<std::uint32_t>(reader.Position());
            std::uint32_t firstLine = 0, tableSize = 0;
            if (!SkipDebugString(reader, version) || !reader.U32(firstLine) || !reader.U32(place.CodeStart) ||
                !reader.U32(place.CodeSize) || !reader.U32(tableSize) || !reader.Skip(tableSize))
                break;
            places.push_back(place);
            largest = std::max(largest, place.CodeSize);
        }
        std::stable_sort(places.begin(), places.end(),
                         [](const TDebugUnitPlace& a, const TDebugUnitPlace& b) { return a.CodeStart < b.CodeStart; });
        if (places.empty()) return false;
    }

    // The units that hold the offset, in the order of their records.
    std::vector<std::uint32_t> candidates;
    const std::uint32_t lowest = offset > largest ? offset - largest : 0;
    auto place = std::lower_bound(places.begin(), places.end(), lowest,
                                  [](const TDebugUnitPlace& p, std::uint32_t start) { return p.CodeStart < start; });
    for (; place != places.end() && place->CodeStart <= offset; ++place)
        if (offset - place->CodeStart < place->CodeSize) candidates.push_back(place->RecordOffset);
    std::sort(candidates.begin(), candidates.end());

    for (std::uint32_t recordOffset : candidates) {
        ByteReader reader(bytes.data(), bytes.size());
        reader.Skip(recordOffset);
        UnitHeader unit;
        if (!DecodeDebugString(reader, cipher, unit.Name) || !reader.U32(unit.FirstLine) || !reader.U32(unit.CodeStart) ||
            !reader.U32(unit.CodeSize) || !reader.U32(unit.TableSize) || unit.TableSize > reader.Remaining())
            continue;
        ByteReader table(reader.Current(), unit.TableSize);
        if (!LookUpInUnit(module, unit, table, cipher, offset, info)) continue;
        info.Addr = address;
        info.UnitName = ShortText(StoredUnitName(info.UnitName, module.IsValidEncryptPassword));
        if (IsHiddenUnit(info.UnitName) && !InternalErrorReportRunning()) {
            info.DebugDetail = ddModule;
            info.UnitName.clear();
            info.ClassName.clear();
            info.ProcedureName.clear();
            info.Line = info.ProcOffsetLine = 0;
        }
        return true;
    }
    return false;
}

bool DescribeExportName(std::string_view name, TOspreyDebugInfo& info)
{
    const TOspreyDebugDetail before = info.DebugDetail;
    if (name.size() > 1 && name[0] == '@' && name[1] != '$') {
        const std::size_t dollar = name.find('$');
        if (dollar == std::string_view::npos) return false;
        std::string text(name.substr(0, dollar));
        if (!text.empty() && text.back() == '@') text.pop_back();
        text.erase(0, 1);
        if (const std::size_t twin = text.find("@@"); twin != std::string::npos) text[twin + 1] = '_';
        std::string dotted;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '@') {
                dotted += '.';
                if (i + 1 < text.size()) dotted += text[++i]; // the character after a replaced "@" is taken as it is
            } else {
                dotted += text[i];
            }
        }
        SplitExportParts(SplitAtDots(dotted), info);
    } else if (name.find('.') != std::string_view::npos) {
        SplitExportParts(SplitAtDots(name.substr(0, name.find('@'))), info);
    } else if (name.empty() || name[0] != '?') {
        info.ProcedureName = ShortText(name);
        info.DebugDetail = ddProcedure;
    }
    if (!info.ProcedureName.empty() && info.ProcedureName[0] == '@') info.ProcedureName[0] = '_';
    return info.DebugDetail != before;
}

void GetDebugInfoOfAddress(const void* address, std::uint32_t threadId, TOspreyDebugInfo& info, bool errorLine,
                           bool runningThread)
{
    info = TOspreyDebugInfo();
    info.ModuleInfo = GetModuleInfoByAddress(address);
    info.ThreadID = threadId;
    info.ErrorLine = errorLine;
    info.RunningThread = runningThread;
    info.IsALeak = false;
    const auto addr = reinterpret_cast<std::uint32_t>(address);
    TOspreyModuleInfo* module = info.ModuleInfo;
    if (module != nullptr && GetOwnDebugInfo(*module, addr, info)) return;

    const OutsideDebugSourceHooks& outside = GetOutsideDebugSourceHooks();
    OutsideLocationInfo location;
    if (module != nullptr && module->OtherDebugData && outside.GetLocationInfo != nullptr &&
        outside.GetLocationInfo(module->OtherDebugData.get(), address, location) && !location.ProcedureName.empty()) {
        info.Addr = location.Address;
        const std::string& source = location.SourceName.empty() ? location.UnitName : location.SourceName;
        info.UnitName = ShortText(source.substr(source.find_last_of("\\/") == std::string::npos ? 0 : source.find_last_of("\\/") + 1));
        const std::vector<std::string> parts = [&] {
            std::vector<std::string> result;
            const std::string& text = location.ProcedureName;
            const std::size_t first = text.find('.');
            result.push_back(text.substr(0, first));
            if (first != std::string::npos) {
                const std::size_t second = text.find('.', first + 1);
                result.push_back(text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
                if (second != std::string::npos) result.push_back(text.substr(second + 1));
            }
            return result;
        }();
        if (parts.size() == 3) {
            info.ClassName = ShortText(parts[1]);
            info.ProcedureName = ShortText(parts[2]);
        } else if (parts.size() == 2) {
            info.ProcedureName = ShortText(parts[1]);
            const std::string stem = info.UnitName.substr(0, info.UnitName.rfind('.'));
            if (::lstrcmpiA(parts[0].c_str(), stem.c_str()) != 0) info.ClassName = ShortText(parts[0]);
        } else {
            info.ProcedureName = ShortText(parts[0]);
        }
        if (!info.ProcedureName.empty() && info.ProcedureName[0] == '@') info.ProcedureName[0] = '_';
        info.Line = location.LineNumber;
        info.ProcOffsetLine = location.ProcOffsetLine;
        info.DebugDetail = info.Line != 0                ? ddSourceCode
                           : !info.UnitName.empty()      ? ddUnitAndProcedure
                           : !info.ProcedureName.empty() ? ddProcedure
                                                         : ddModule;
        return;
    }

    info.DebugDetail = ddNone;
    info.Addr = addr;
    info.Line = 0;
    if (module == nullptr) return;
    info.DebugDetail = ddModule;
    if (module->FunctionsList.Empty()) return;
    if (const TOspreyFunctionInfo* function = FindExport(module->FunctionsList, addr))
        DescribeExportName(function->Name, info);
}

TOspreyDebugDetails VisibleDebugDetails(const TOspreyModuleOptions& options)
{
    TOspreyDebugDetails details{ddSourceCode};
    if (options.CallStackOptions().Contains(csoShowDLLs)) details.Include(ddProcedure);
    if (options.CallStackOptions().Contains(csoShowBPLs)) details.Include(ddUnitAndProcedure);
    return details;
}

} // namespace kv::crashreport
