#include "platform/runtime/TlsSlot.h"

namespace kv {

TlsSlot::TlsSlot() noexcept : index_(::TlsAlloc()) {}

TlsSlot::~TlsSlot()
{
    if (IsValid()) ::TlsFree(index_);
}

void* TlsSlot::Get() const noexcept
{
    if (!IsValid()) return nullptr;
    // TlsGetValue clears the thread's last error when it succeeds; the crash
    // path reads that error for its report and must find it unchanged.
    const DWORD lastError = ::GetLastError();
    void* value = ::TlsGetValue(index_);
    ::SetLastError(lastError);
    return value;
}

bool TlsSlot::Set(void* value) noexcept
{
    return IsValid() && ::TlsSetValue(index_, value) != FALSE;
}

} // namespace kv
