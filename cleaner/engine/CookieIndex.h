#pragma once
// Internet Explorer's cookie index ("index.dat" in the cookies folder): the
// records that name each cookie, the keep rule, and the routines that delete
// the cookies the user does not keep and blank their records.
//
// The file is laid out in 128-byte blocks; a record starts on a block with the
// signature "URL " or "LEAK" and a 32-bit little-endian block count. From
// record offset 104 stands the NUL-terminated ANSI URL "Cookie:" user "@"
// domain-and-path; the record's 32-bit field at offset 60 gives the offset of
// the NUL-terminated name of the cookie's file (older files put a name that
// begins with the user name right behind the URL).
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

struct TCookieRecord {
    std::size_t offset = 0; // in the index file
    std::size_t length = 0; // 128 x block count
    std::string url;
    std::string domain;   // GetCookieDomain (url)
    std::string fileName; // the cookie's file; empty when the record names none that may be opened
};

// Every "URL " and "LEAK" record that lies whole inside the file.
std::vector<TCookieRecord> ParseCookieIndex(std::string_view bytes);

// "Cookie:" user "@" domain: the user is the text between the prefix and the
// last "@"; the domain the text behind the last "@" (behind the prefix when
// there is none), its path included.
std::string GetCookieUserName(std::string_view url);
std::string GetCookieDomain(std::string_view url);
// The domain of one record's URL (empty unless the record reaches the URL).
std::string GetRecordCookieDomain(std::string_view record);

// The one keep rule for deleting cookie files and blanking their records: a
// domain is kept when the keep list (one domain per line) holds it, whatever
// the letter case.
bool IsCookieKept(std::string_view domain, const std::wstring& keepList);

// Line pairs (domain, cookie file name), ANSI, CR LF; empty when the index is
// missing.
std::string ReadCookieIndex(const std::wstring& indexFile);

// The cookie files (full paths) that DeleteUnkeptCookies removes.
std::vector<std::wstring> UnkeptCookieFiles(const std::wstring& cookiesFolder, const std::wstring& keepList);

// Zeroes the records of every cookie that is not kept. False when the index
// cannot be opened or written (held open by the browser): an expected
// failure, which the caller skips.
bool WipeCookieIndex(const std::wstring& cookiesFolder, const std::wstring& keepList);
void WipeCookieIndex(); // IECookiesFolder, CookieKeepList

// Deletes the files of the cookies that are not kept, then WipeCookieIndex.
void DeleteUnkeptCookies(const std::wstring& cookiesFolder, const std::wstring& keepList);
void DeleteUnkeptCookies(); // IECookiesFolder, CookieKeepList

} // namespace kv
