// The test executables' entry point: COM and the main-thread window are set up
// as the program sets them up, then GoogleTest runs.
#include <gtest/gtest.h>
#include <objbase.h>

#include "platform/MessageLoop.h"

int main(int argc, char** argv)
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    kv::InitializeMainThread();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
