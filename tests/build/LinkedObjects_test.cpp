#include <gtest/gtest.h>

#include <windows.h>

namespace {

bool VariableSet(const wchar_t* name)
{
    wchar_t value[8] = {};
    return ::GetEnvironmentVariableW(name, value, 8) != 0;
}

// Start-up code of the crash reporter is reached by nothing; it is linked
// only because it comes as object files.
TEST(LinkedObjects, AnUnreferencedInitialiserInAnObjectLibraryRuns)
{
    EXPECT_TRUE(VariableSet(L"KV_LINKED_OBJECT_RAN"));
}

TEST(LinkedObjects, TheSameInitialiserInAnArchiveIsDropped)
{
    EXPECT_FALSE(VariableSet(L"KV_ARCHIVED_OBJECT_RAN"));
}

} // namespace
