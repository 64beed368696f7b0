#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/ChildWindows.h"
#include "platform/Handles.h"

namespace kvtest {
namespace {

const std::wstring kScratchRoot = L"C:\\kvtest\\";

std::wstring ExecutableName()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path);
    name = name.substr(name.rfind(L'\\') + 1);
    return name.substr(0, name.rfind(L'.'));
}

void RemoveTreeUnchecked(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry{};
    kv::FindHandle find(::FindFirstFileW((folder + L"*").c_str(), &entry));
    if (find) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            // Host names holding "\\" or ending in a dot or blank would name
            // another entry (or a folder above) once joined to the path: the
            // tests that make them remove them on the host side.
            if (name.find_first_of(L"\\/:") != std::wstring::npos || name.back() == L'.' || name.back() == L' ')
                continue;
            const std::wstring path = folder + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            // Links are removed as links, never followed.
            const bool isLink = entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !isLink)
                RemoveTreeUnchecked(path + L"\\");
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                ::RemoveDirectoryW(path.c_str());
            else
                ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(find.Get(), &entry));
    }
    find.Reset();
    ::RemoveDirectoryW(folder.c_str());
}

} // namespace

void RemoveScratchTree(const std::wstring& folder)
{
    std::wstring path = folder;
    if (path.empty() || path.back() != L'\\') path += L'\\';
    // D: is the test prefix's scratch drive: its entries may go, never the drive itself.
    const bool onScratchDrive = path.size() > 3 && _wcsnicmp(path.c_str(), L"D:\\", 3) == 0;
    if ((_wcsnicmp(path.c_str(), kScratchRoot.c_str(), kScratchRoot.size()) != 0 && !onScratchDrive) ||
        path.find(L"..") != std::wstring::npos)
        throw std::runtime_error("refusing to delete outside the scratch root");
    RemoveTreeUnchecked(path);
}

std::wstring ScratchFolder(std::wstring_view name)
{
    const std::wstring folder = kScratchRoot + ExecutableName() + L"\\" + std::wstring(name) + L"\\";
    RemoveScratchTree(folder);
    for (std::size_t i = 0; i < folder.size(); ++i)
        if (folder[i] == L'\\') ::CreateDirectoryW(folder.substr(0, i + 1).c_str(), nullptr);
    return folder;
}

void WriteBytes(const std::wstring& path, std::string_view bytes)
{
    kv::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.IsValid()) << "cannot create test file";
    DWORD written = 0;
    ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string ReadBytes(const std::wstring& path)
{
    kv::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file) return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ExecutableFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

std::wstring ProbePath() { return ExecutableFolder() + L"kv_probe.exe"; }

int RunProcess(const std::wstring& commandLine, DWORD timeoutMs)
{
    return RunProcessServingWindows(commandLine, nullptr, timeoutMs);
}

int RunProbe(const std::wstring& probe, const std::wstring& argument, const std::wstring& logPath, DWORD timeoutMs)
{
    return RunProcess(L"\"" + ExecutableFolder() + probe + L"\" " + argument + L" \"" + logPath + L"\"", timeoutMs);
}

namespace {
struct ThreadWork {
    const std::function<void(int)>* body;
    int index;
};

DWORD WINAPI RunThreadWork(void* parameter)
{
    const auto* work = static_cast<const ThreadWork*>(parameter);
    (*work->body)(work->index);
    return 0;
}
} // namespace

void RunOnThreads(int count, const std::function<void(int)>& body)
{
    std::vector<ThreadWork> work;
    for (int index = 0; index < count; ++index) work.push_back({&body, index});
    std::vector<kv::KernelHandle> threads;
    for (ThreadWork& item : work) {
        threads.emplace_back(::CreateThread(nullptr, 0, RunThreadWork, &item, 0, nullptr));
        ASSERT_TRUE(threads.back().IsValid());
    }
    for (const kv::KernelHandle& thread : threads)
        ASSERT_EQ(::WaitForSingleObject(thread.Get(), 60000), WAIT_OBJECT_0);
}

} // namespace kvtest
