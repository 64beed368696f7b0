#include "common/HostScript.h"

#include <string>

#include "common/TestSupport.h"

namespace kvtest {
namespace {

constexpr wchar_t kRunner[] = L"C:\\kvtest\\host-run.sh";

std::wstring ScriptPath(const std::wstring& folder, const std::wstring& name) { return folder + name + L".sh"; }

} // namespace

bool StartHostScript(const std::wstring& folder, const std::wstring& name, const std::string& script)
{
    const std::wstring path = ScriptPath(folder, name);
    if (path.rfind(L"C:\\kvtest\\", 0) != 0 || !PathExists(kRunner)) return false;
    ::DeleteFileW((path + L".done").c_str());
    WriteBytes(path, "set -eu\n" + script);
    // Wine hands a host executable to the host; there is no process handle to keep.
    std::wstring commandLine = std::wstring(L"\"") + kRunner + L"\" \"" + path.substr(3) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return false;
    if (process.hProcess) ::CloseHandle(process.hProcess);
    if (process.hThread) ::CloseHandle(process.hThread);
    return true;
}

int WaitHostScript(const std::wstring& folder, const std::wstring& name, DWORD timeoutMs)
{
    const std::wstring done = ScriptPath(folder, name) + L".done";
    for (DWORD waited = 0; waited <= timeoutMs; waited += 20) {
        if (PathExists(done)) {
            const std::string code = ReadBytes(done);
            if (!code.empty() && code.back() == '\n') return std::stoi(code);
        }
        ::Sleep(20);
    }
    return -1;
}

int RunHostScript(const std::wstring& folder, const std::wstring& name, const std::string& script, DWORD timeoutMs)
{
    if (!StartHostScript(folder, name, script)) return -1;
    return WaitHostScript(folder, name, timeoutMs);
}

} // namespace kvtest
