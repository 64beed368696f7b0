#include "cleaner/windows/ProgramMain.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "cleaner/engine/FunctionUnit.h"
#include "platform/Handles.h"
#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"

namespace kv {
namespace {

std::wstring ExecutableFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// Job mode when the first argument is a job file of ours; anything else
// (no argument, no such file, another extension, a file that would write
// other keys) starts the program normally.
void StartJobModeIfAsked(const std::vector<std::wstring>& arguments)
{
    JobMode = false;
    if (arguments.empty() || !IsJobFileArgument(arguments.front())) return;
    if (!ImportJobFile(arguments.front())) return;
    JobMode = true;
    SettingsRoot = JobSettingsRoot();
}

} // namespace

std::vector<std::wstring> CommandLineArguments()
{
    int count = 0;
    const LocalMemory<LPWSTR> list(::CommandLineToArgvW(::GetCommandLineW(), &count));
    std::vector<std::wstring> arguments;
    for (int i = 1; list && i < count; ++i) arguments.emplace_back(list.Get()[i]);
    return arguments;
}

int ProgramMain(const std::vector<std::wstring>& arguments, TStartupSteps& steps)
{
    if (IsAlreadyRunning()) return 0;
    steps.InitializeApplication();
    ProgramFolder = ExecutableFolder();
    SettingsRoot = ChooseSettingsRoot();
    StartJobModeIfAsked(arguments);
    // Outside job mode the key does not normally exist, and the flag is clear.
    RunHiddenly = ReadRegistryBool(SettingsRoot + JobSubKey, L"RunHiddenly", false);
    steps.PrepareLanguage();
    steps.CreateStartupWindows();
    return steps.RunMessageLoop();
}

} // namespace kv
