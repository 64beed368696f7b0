#include "cleaner/engine/CookieIndex.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "cleaner/engine/DeleteGuard.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SharedState.h"
#include "platform/Handles.h"
#include "platform/StringList.h"
#include "platform/TextCodec.h"

namespace kv {

namespace {

constexpr std::size_t kBlockSize = 128;
constexpr std::size_t kUrlOffset = 104;
constexpr std::size_t kPrefixLength = 7; // "Cookie:"
constexpr std::size_t kLocalNameField = 60;
constexpr char kDeletedHashKey[4] = {1, 0, 0, 0};

std::uint32_t ReadUint32(std::string_view bytes, std::size_t at)
{
    if (at + 4 > bytes.size()) return 0;
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

// The NUL-terminated text at `at`, ending at the record's end at the latest.
std::string_view TextAt(std::string_view record, std::size_t at)
{
    if (at >= record.size()) return {};
    const std::string_view rest = record.substr(at);
    return rest.substr(0, rest.find('\0'));
}

bool EndsWithTxt(std::string_view name)
{
    return name.size() > 4 && CompareTextIgnoreCase(name.substr(name.size() - 4), std::string_view(".txt")) == 0;
}

bool IsUsableCookieFileName(std::string_view name)
{
    return EndsWithTxt(name) && IsPlainFileName(AnsiToWide(name));
}

// The cookie file that a record names: the local-name field when it points
// behind the URL inside the record, otherwise the older layout's name that
// begins with the user name and ends with ".txt" behind the URL.
std::string RecordFileName(std::string_view record, std::string_view url)
{
    const std::size_t urlEnd = kUrlOffset + url.size();
    const std::size_t field = ReadUint32(record, kLocalNameField);
    if (field > urlEnd && field < record.size()) {
        const std::string_view name = TextAt(record, field);
        if (IsUsableCookieFileName(name)) return std::string(name);
    }
    const std::string user = GetCookieUserName(url);
    if (user.empty() || urlEnd >= record.size()) return std::string();
    const std::string_view behind = record.substr(urlEnd);
    const std::size_t u = behind.find(user);
    if (u == std::string_view::npos) return std::string();
    const std::size_t e = behind.find(std::string_view(".txt\0", 5), u);
    if (e == std::string_view::npos) return std::string();
    const std::string_view name = behind.substr(u, e + 4 - u);
    return IsUsableCookieFileName(name) ? std::string(name) : std::string();
}

bool HasSignature(std::string_view bytes, std::size_t at, std::string_view signature)
{
    return bytes.substr(at, 4) == signature;
}

// A record's length when its block count fits the file, else 0.
std::size_t RecordLength(std::string_view bytes, std::size_t at)
{
    const std::size_t blocks = ReadUint32(bytes, at + 4);
    const std::size_t available = (bytes.size() - at) / kBlockSize;
    return blocks >= 1 && blocks <= available ? blocks * kBlockSize : 0;
}

bool WriteAt(HANDLE file, std::size_t offset, std::string_view bytes)
{
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// The hash-table items (file positions) that point at one of `records`. A
// hash table is a "HASH" record of 8-byte items (key, record offset) behind a
// 16-byte header.
std::vector<std::size_t> HashItemsPointingAt(std::string_view bytes, const std::vector<std::size_t>& records)
{
    std::vector<std::size_t> items;
    for (std::size_t at = 0; at + 8 <= bytes.size();) {
        const std::size_t length = HasSignature(bytes, at, "HASH") ? RecordLength(bytes, at) : 0;
        if (length == 0) {
            at += kBlockSize;
            continue;
        }
        for (std::size_t item = at + 16; item + 8 <= at + length; item += 8) {
            const std::size_t target = ReadUint32(bytes, item + 4);
            if (std::find(records.begin(), records.end(), target) != records.end()) items.push_back(item);
        }
        at += length;
    }
    return items;
}

} // namespace

std::string GetCookieUserName(std::string_view url)
{
    if (url.size() <= kPrefixLength) return std::string();
    const std::string_view rest = url.substr(kPrefixLength);
    const std::size_t at = rest.rfind('@');
    return at == std::string_view::npos ? std::string() : std::string(rest.substr(0, at));
}

std::string GetCookieDomain(std::string_view url)
{
    if (url.size() <= kPrefixLength) return std::string();
    const std::string_view rest = url.substr(kPrefixLength);
    const std::size_t at = rest.rfind('@');
    return std::string(at == std::string_view::npos ? rest : rest.substr(at + 1));
}

std::string GetRecordCookieDomain(std::string_view record)
{
    if (record.size() <= kUrlOffset + kPrefixLength) return std::string();
    return GetCookieDomain(TextAt(record, kUrlOffset));
}

std::vector<TCookieRecord> ParseCookieIndex(std::string_view bytes)
{
    std::vector<TCookieRecord> records;
    std::size_t at = 0;
    while (at + 8 <= bytes.size()) {
        const bool cookie = HasSignature(bytes, at, "URL ") || HasSignature(bytes, at, "LEAK");
        const bool other = HasSignature(bytes, at, "HASH") || HasSignature(bytes, at, "REDR");
        const std::size_t length = (cookie || other) ? RecordLength(bytes, at) : 0;
        if (length == 0) {
            at += kBlockSize;
            continue;
        }
        if (cookie && length > kUrlOffset + kPrefixLength) {
            const std::string_view record = bytes.substr(at, length);
            TCookieRecord entry;
            entry.offset = at;
            entry.length = length;
            entry.url = std::string(TextAt(record, kUrlOffset));
            entry.domain = GetRecordCookieDomain(record);
            entry.fileName = RecordFileName(record, entry.url);
            records.push_back(std::move(entry));
        }
        at += length;
    }
    return records;
}

bool IsCookieKept(std::string_view domain, const std::wstring& keepList)
{
    return StringList(keepList).IndexOf(AnsiToWide(domain)) >= 0;
}

std::string ReadCookieIndex(const std::wstring& indexFile)
{
    const auto bytes = ReadWholeFile(indexFile);
    if (!bytes) return std::string();
    std::string text;
    for (const TCookieRecord& record : ParseCookieIndex(*bytes)) {
        if (record.fileName.empty()) continue;
        text += record.domain + "\r\n" + record.fileName + "\r\n";
    }
    return text;
}

std::vector<std::wstring> UnkeptCookieFiles(const std::wstring& cookiesFolder, const std::wstring& keepList)
{
    std::vector<std::wstring> files;
    if (CanonicalFolder(cookiesFolder).empty()) return files;
    const auto bytes = ReadWholeFile(cookiesFolder + L"index.dat");
    if (!bytes) return files;
    for (const TCookieRecord& record : ParseCookieIndex(*bytes))
        if (!record.fileName.empty() && !IsCookieKept(record.domain, keepList))
            files.push_back(cookiesFolder + AnsiToWide(record.fileName));
    return files;
}

bool WipeCookieIndex(const std::wstring& cookiesFolder, const std::wstring& keepList)
{
    if (CanonicalFolder(cookiesFolder).empty()) return true;
    const std::wstring index = cookiesFolder + L"index.dat";
    if (::GetFileAttributesW(index.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    const auto bytes = ReadWholeFile(index);
    FileHandle file(::CreateFileW(index.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!bytes || !file) return false;
    std::vector<std::size_t> blanked;
    for (const TCookieRecord& record : ParseCookieIndex(*bytes)) {
        if (IsCookieKept(record.domain, keepList)) continue;
        if (!WriteAt(file.Get(), record.offset, std::string(record.length, '\0'))) return false;
        blanked.push_back(record.offset);
    }
    // A hash item left pointing at a blank record makes WinInet refuse every
    // later cookie of that domain: mark it deleted, as WinInet does.
    for (std::size_t item : HashItemsPointingAt(*bytes, blanked))
        if (!WriteAt(file.Get(), item, std::string_view(kDeletedHashKey, 4))) return false;
    return true;
}

void WipeCookieIndex() { WipeCookieIndex(IECookiesFolder, CookieKeepList); }

void DeleteUnkeptCookies(const std::wstring& cookiesFolder, const std::wstring& keepList)
{
    const TDeleteGuard guard;
    for (const std::wstring& file : UnkeptCookieFiles(cookiesFolder, keepList)) guard.DeleteNamedFile(file);
    WipeCookieIndex(cookiesFolder, keepList);
}

void DeleteUnkeptCookies() { DeleteUnkeptCookies(IECookiesFolder, CookieKeepList); }

} // namespace kv
