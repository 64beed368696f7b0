// The same initialiser in a static library: the linker takes no member that
// nothing references, so this one never runs.
#include <windows.h>

namespace {
struct MarkArchived {
    MarkArchived() { ::SetEnvironmentVariableW(L"KV_ARCHIVED_OBJECT_RAN", L"1"); }
} g_markArchived;
} // namespace
