// Linked through kv_add_linked_objects: nothing in the test executable names
// anything here, yet its static initialiser must run.
#include <windows.h>

namespace {
struct MarkLinked {
    MarkLinked() { ::SetEnvironmentVariableW(L"KV_LINKED_OBJECT_RAN", L"1"); }
} g_markLinked;
} // namespace
