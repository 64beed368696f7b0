#pragma once
// Host-side work of a test: links, names Windows cannot make ("a\b", "x."),
// folders swapped for links while the program runs. The script runs in the
// host's shell, in the folder it is written to (a scratch folder below
// C:\kvtest\), through C:\kvtest\host-run.sh (tests/common/MakeHostRunner.sh,
// a ctest fixture). Its standard output lands in <name>.sh.out.
#include <windows.h>

#include <string>

namespace kvtest {

// Writes `script` to `folder` + `name` + ".sh" and starts it; false when it
// cannot start.
bool StartHostScript(const std::wstring& folder, const std::wstring& name, const std::string& script);
// Its exit code once it has ended; -1 when it does not end within `timeoutMs`.
int WaitHostScript(const std::wstring& folder, const std::wstring& name, DWORD timeoutMs = 60000);
// Both: the exit code, or -1.
int RunHostScript(const std::wstring& folder, const std::wstring& name, const std::string& script,
                  DWORD timeoutMs = 60000);

} // namespace kvtest
