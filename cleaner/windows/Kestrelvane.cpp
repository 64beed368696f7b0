// The program's entry point.
#include <windows.h>

#include "cleaner/windows/LanguageUnit.h"
#include "cleaner/windows/ProgramMain.h"
#include "platform/forms/Form.h"

namespace {

class TProgramSteps : public kv::TStartupSteps {
public:
    void InitializeApplication() override { kv::forms::Application::Instance().Initialize(L"Kestrelvane"); }
    void PrepareLanguage() override { kv::PrepareStartupLanguage(); }
};

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    TProgramSteps steps;
    return kv::ProgramMain(kv::CommandLineArguments(), steps);
}
