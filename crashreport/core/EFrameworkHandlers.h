#pragma once
// The handlers that catch exceptions before the raise filter could call them
// unhandled: the application's handler slot (every window procedure, timer
// and callback) and the worker threads' slot. The reporter puts its own in
// front; the previous handler (the message box) runs only when the report
// says the program's own handling should go on.
#include <cstdint>

namespace kv::crashreport {

// -1 while the previous application handler runs, else 0.
std::int32_t InPreviousHandler() noexcept;

void HookPackageHandlers();
void UnhookPackageHandlers();

} // namespace kv::crashreport
