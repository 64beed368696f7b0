#include "platform/runtime/SehGuard.h"

namespace kv {

bool SehGuardTakes(DWORD exceptionCode) noexcept
{
    switch (exceptionCode) {
    case kThreadNamingException:
    case DBG_PRINTEXCEPTION_C:
    case 0x4001000A: // DBG_PRINTEXCEPTION_WIDE_C
        return false;
    default:
        return true;
    }
}

} // namespace kv

extern "C" int kv_seh_guard_takes(DWORD exceptionCode) { return kv::SehGuardTakes(exceptionCode) ? 1 : 0; }
