// A small child process for tests that need a second process.
//   kv_probe exit N        ends with exit code N
//   kv_probe mutex         exit 1 when another instance holds the program's mutex, else 0
//   kv_probe hold-mutex MS takes the program's mutex and keeps it MS milliseconds
//   kv_probe program-main [ARG] runs the program's start-up with recording
//                          window steps; see StartupReport for the exit code
//   kv_probe startup-language [ARG] runs the program's start-up with the real
//                          language step; see LanguageReport for the exit code
//   kv_probe set-cookie URL NAME VALUE   stores a persistent cookie through WinInet
//   kv_probe has-cookie URL NAME         exit 0 when WinInet has the cookie, 1 when not
//   kv_probe web-error TEXT              answers a web request with the reporter's error page
//                                        for TEXT; exit 0 when it was written (or there was no
//                                        request), 1 when writing failed
//   kv_probe clean-cookies ROOT          a fresh run's cookie clean: loads the settings under
//                                        HKCU\ROOT, finds the locations, cleans the cookie row
#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "cleaner/engine/CleanTargets.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/LanguageUnit.h"
#include "cleaner/windows/ProgramMain.h"
#include "platform/Format.h"
#include "cleaner/windows/UiText.h"
#include "crashreport/output/ELogText.h"
#include "crashreport/output/EReportState.h"
#include "platform/TextCodec.h"
#include "platform/forms/Form.h"

namespace {

// The start-up's outcome as an exit code: 0 when it ended before any window
// step (a second instance), 100 when the steps ran out of order, otherwise
// 64 + JobMode + 2 * RunHiddenly + 4 * the settings root (0 legacy, 1 current,
// 2 current job, 3 legacy job).
class StartupReport : public kv::TStartupSteps {
public:
    void InitializeApplication() override { order_ += L'A'; }
    void PrepareLanguage() override { order_ += L'L'; }
    void CreateStartupWindows() override { order_ += L'W'; }
    int RunMessageLoop() override
    {
        order_ += L'M';
        if (order_ != L"ALWM") return 100;
        const std::wstring roots[] = {kv::LegacySettingsKey, kv::CurrentSettingsKey,
                                      std::wstring(kv::CurrentSettingsKey) + kv::JobSubKey,
                                      std::wstring(kv::LegacySettingsKey) + kv::JobSubKey};
        int root = 0;
        while (root < 4 && roots[root] != kv::SettingsRoot) ++root;
        return 64 + (kv::JobMode ? 1 : 0) + (kv::RunHiddenly ? 2 : 0) + 4 * root;
    }

private:
    std::wstring order_;
};

// The language the start-up chose, as an exit code: 64 + 1 when the chosen
// file is "Language\de.ini" + 2 when the windows' texts come from it (entry
// 141 is "Willkommen" there) + 4 in job mode.
class LanguageReport : public kv::TStartupSteps {
public:
    void InitializeApplication() override { kv::forms::Application::Instance().Initialize(L"Kestrelvane"); }
    void PrepareLanguage() override { kv::PrepareStartupLanguage(); }
    int RunMessageLoop() override
    {
        const bool german = kv::LanguageFile == kv::ProgramFolder + L"Language\\de.ini";
        const bool germanTexts = kv::UiText(141) == L"Willkommen";
        return 64 + (german ? 1 : 0) + (germanTexts ? 2 : 0) + (kv::JobMode ? 4 : 0);
    }
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 3 && std::wcscmp(argv[1], L"exit") == 0) return std::wcstol(argv[2], nullptr, 10);
    if (argc >= 2 && std::wcscmp(argv[1], L"mutex") == 0) return kv::IsAlreadyRunning() ? 1 : 0;
    if (argc >= 3 && std::wcscmp(argv[1], L"hold-mutex") == 0) {
        if (kv::IsAlreadyRunning()) return 2;
        ::Sleep(std::wcstoul(argv[2], nullptr, 10));
        return 0;
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"program-main") == 0) {
        StartupReport steps;
        return kv::ProgramMain(std::vector<std::wstring>(argv + 2, argv + argc), steps);
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"startup-language") == 0) {
        LanguageReport steps;
        return kv::ProgramMain(std::vector<std::wstring>(argv + 2, argv + argc), steps);
    }
    if (argc >= 5 && std::wcscmp(argv[1], L"set-cookie") == 0) {
        const std::wstring data = std::wstring(argv[4]) + L"; expires=Sat, 01-Jan-2033 00:00:00 GMT";
        return ::InternetSetCookieW(argv[2], argv[3], data.c_str()) ? 0 : 2;
    }
    if (argc >= 4 && std::wcscmp(argv[1], L"has-cookie") == 0) {
        wchar_t cookies[4096] = {};
        DWORD size = 4096;
        if (!::InternetGetCookieW(argv[2], nullptr, cookies, &size)) return 1;
        return std::wstring(cookies).find(std::wstring(argv[3]) + L"=") != std::wstring::npos ? 0 : 1;
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"web-error") == 0) {
        kv::crashreport::CurrentReport().WebResponseWritten = true;
        kv::crashreport::OutputWebErrorPage(kv::WideToAnsi(argv[2]));
        return kv::crashreport::CurrentReport().WebResponseWritten ? 0 : 1;
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"clean-cookies") == 0) {
        kv::LoadSettings(argv[2]);
        OSVERSIONINFOW version{sizeof version};
        ::GetVersionExW(&version);
        const std::wstring osVersion = kv::Format(L"%d%d", {static_cast<int>(version.dwMajorVersion),
                                                            static_cast<int>(version.dwMinorVersion)});
        kv::PublishTargetLocations(kv::LocateCleanTargets(kv::SystemLocationSources(osVersion)));
        try {
            kv::CleanTarget(kv::ctCookies, kv::TCleanRequest{});
        } catch (...) {
            return 3;
        }
        return 0;
    }
    return 100;
}
