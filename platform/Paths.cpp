#include "platform/Paths.h"

#include <windows.h>

#include <utility>

#include "platform/Handles.h"

namespace kv {

namespace {

template <class Text>
Text AddBackslash(Text path)
{
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}

template <class Text>
Text DropBackslashes(Text path)
{
    while (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

bool IsFile(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

std::wstring WithTrailingBackslash(std::wstring path) { return AddBackslash(std::move(path)); }
std::string WithTrailingBackslash(std::string path) { return AddBackslash(std::move(path)); }
std::wstring WithoutTrailingBackslash(std::wstring path) { return DropBackslashes(std::move(path)); }
std::string WithoutTrailingBackslash(std::string path) { return DropBackslashes(std::move(path)); }

bool FileExists(const std::wstring& path) { return IsFile(::GetFileAttributesW(path.c_str())); }
bool FileExists(const std::string& path) { return IsFile(::GetFileAttributesA(path.c_str())); }
bool FolderExists(const std::wstring& path) { return IsFolder(::GetFileAttributesW(path.c_str())); }
bool FolderExists(const std::string& path) { return IsFolder(::GetFileAttributesA(path.c_str())); }
bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::string> ReadWholeFile(const std::wstring& path)
{
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7FFFFFFF) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr))
            return std::nullopt;
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

} // namespace kv
