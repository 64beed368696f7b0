#pragma once
// The main thread's message pump helpers and the hidden window through which
// worker threads run code on the main thread.
#include <functional>

#include <windows.h>

namespace kv {

// Dispatches every message waiting for the calling thread, then returns.
// Returns false when WM_QUIT was seen (it is posted again for the real loop).
bool ProcessMessages();

// A hook that sees every message ProcessMessages and the form layer's loops
// take from the queue before it is dispatched (keyboard navigation, key
// preview); it returns true when it has handled the message itself.
using MessagePreTranslator = bool (*)(MSG& message);
void SetMessagePreTranslator(MessagePreTranslator translator) noexcept;
// Translates and dispatches one message taken from the queue, through the hook.
void DispatchQueuedMessage(MSG& message);

// Must be called once on the main thread before any worker uses RunOnMainThread.
void InitializeMainThread();
bool IsMainThread() noexcept;
DWORD MainThreadId() noexcept;

// Runs `method` on the main thread and waits for it (a blocking SendMessage to
// a hidden main-thread window, which is also served inside modal loops).
// Whatever `method` throws is thrown again here, on the calling thread.
void RunOnMainThread(const std::function<void()>& method);

// The application's main window: the owner of shell dialogs and message boxes
// opened on the application's behalf (nullptr until the main window exists).
void SetApplicationWindow(HWND window) noexcept;
HWND ApplicationWindow() noexcept;

} // namespace kv
