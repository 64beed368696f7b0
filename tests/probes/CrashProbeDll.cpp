// A DLL that carries the crash reporter and its data, loaded by
// kv_crash_probe_data: its reporter passes its captures on to the program's.
#include <windows.h>

#include <stdexcept>

#include "crashreport/core/EFrameworkHandlers.h"
#include "platform/Exceptions.h"

class ProbeDllError : public std::runtime_error {
public:
    ProbeDllError() : std::runtime_error("in the DLL") {}
};

namespace {
[[gnu::noinline]] void ThrowInDll() { throw ProbeDllError(); }
} // namespace

// Throws and catches inside the DLL.
extern "C" __declspec(dllexport) int ProbeDllThrowCaught()
{
    try {
        ThrowInDll();
    } catch (const ProbeDllError&) {
        return 1;
    }
    return 0;
}

// A failure inside one of the DLL's callbacks: the DLL's handler slot. The
// handler the reporter calls on to is a quiet one (no message box).
extern "C" __declspec(dllexport) void ProbeDllGuardedThrow()
{
    kv::crashreport::UnhookPackageHandlers();
    kv::SetApplicationExceptionHandler([](const std::exception_ptr&) {});
    kv::crashreport::HookPackageHandlers();
    kv::GuardedCallback([] { ThrowInDll(); });
}
