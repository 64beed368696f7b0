#include "platform/MessageLoop.h"

#include <atomic>
#include <exception>

#include "platform/Exceptions.h"

namespace kv {
namespace {

constexpr UINT kRunMethodMessage = WM_APP + 0x100;
constexpr wchar_t kSyncWindowClass[] = L"KestrelvaneSyncWindow";

std::atomic<DWORD> g_mainThreadId{0};
std::atomic<HWND> g_syncWindow{nullptr};
std::atomic<HWND> g_applicationWindow{nullptr};
std::atomic<MessagePreTranslator> g_preTranslator{nullptr};

struct PendingMethod {
    const std::function<void()>* method;
    std::exception_ptr error;
};

LRESULT CALLBACK SyncWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRunMethodMessage) {
        auto* pending = reinterpret_cast<PendingMethod*>(lParam);
        try {
            (*pending->method)();
        } catch (...) {
            // Not handled here: thrown again on the thread that waits.
            pending->error = std::current_exception();
            runtime::NoteCarriedException(pending->error);
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

bool ProcessMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        DispatchQueuedMessage(msg);
    }
    return true;
}

void SetMessagePreTranslator(MessagePreTranslator translator) noexcept { g_preTranslator = translator; }

void DispatchQueuedMessage(MSG& message)
{
    if (MessagePreTranslator translator = g_preTranslator.load(); translator && translator(message)) return;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

void InitializeMainThread()
{
    if (g_syncWindow.load()) return;
    g_mainThreadId = ::GetCurrentThreadId();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = SyncWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kSyncWindowClass;
    ::RegisterClassW(&windowClass);
    g_syncWindow = ::CreateWindowExW(0, kSyncWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     windowClass.hInstance, nullptr);
    if (!g_syncWindow.load()) throw Exception(L"Cannot create the main thread's synchronisation window");
}

void SetApplicationWindow(HWND window) noexcept { g_applicationWindow = window; }

HWND ApplicationWindow() noexcept { return g_applicationWindow.load(); }

bool IsMainThread() noexcept { return ::GetCurrentThreadId() == g_mainThreadId.load(); }

DWORD MainThreadId() noexcept { return g_mainThreadId.load(); }

void RunOnMainThread(const std::function<void()>& method)
{
    if (IsMainThread()) {
        method();
        return;
    }
    const HWND window = g_syncWindow.load();
    if (!window) throw Exception(L"No main-thread window to synchronise with");
    PendingMethod pending{&method, nullptr};
    ::SendMessageW(window, kRunMethodMessage, 0, reinterpret_cast<LPARAM>(&pending));
    if (pending.error) runtime::RethrowCarriedBack(pending.error);
}

} // namespace kv
