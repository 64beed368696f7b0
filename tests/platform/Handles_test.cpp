#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <utility>

#include "platform/Handles.h"

namespace {

// A COM object that counts its references.
class CountedUnknown : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;
};

TEST(Handles, ComRefReleasesItsOneReferenceOnce)
{
    CountedUnknown object;
    {
        kv::ComRef<IUnknown> first(&object);
        kv::ComRef<IUnknown> second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.Get(), &object);
        EXPECT_EQ(object.references, 1u);
    }
    EXPECT_EQ(object.references, 0u);
}

TEST(Handles, ComRefReceiveReleasesWhatItHeld)
{
    CountedUnknown held;
    CountedUnknown next;
    kv::ComRef<IUnknown> ref(&held);
    *ref.Receive() = &next;
    EXPECT_EQ(held.references, 0u);
    EXPECT_EQ(ref.Get(), &next);
}

TEST(Handles, GdiObjectDeletesTheObject)
{
    HGDIOBJ raw = nullptr;
    {
        const kv::GdiObject brush(::CreateSolidBrush(RGB(1, 2, 3)));
        raw = brush.Get();
        EXPECT_EQ(::GetObjectType(raw), static_cast<DWORD>(OBJ_BRUSH));
    }
    EXPECT_EQ(::GetObjectType(raw), 0u);
}

TEST(Handles, CreatedDCDeletesTheContext)
{
    HDC raw = nullptr;
    {
        const kv::CreatedDC dc(::CreateCompatibleDC(nullptr));
        raw = dc.Get();
        EXPECT_EQ(::GetObjectType(raw), static_cast<DWORD>(OBJ_MEMDC));
    }
    EXPECT_EQ(::GetObjectType(raw), 0u);
}

TEST(Handles, WindowDCGivesAUsableScreenContext)
{
    const kv::WindowDC screen(nullptr);
    ASSERT_TRUE(screen);
    EXPECT_GT(::GetDeviceCaps(screen.Get(), LOGPIXELSY), 0);
}

TEST(Handles, TaskAndLocalMemoryOwnWhatTheSystemHandsOut)
{
    kv::CoTaskMemory<ITEMIDLIST> pidl;
    ASSERT_TRUE(SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_WINDOWS, pidl.Receive())));
    wchar_t path[MAX_PATH] = {};
    EXPECT_TRUE(::SHGetPathFromIDListW(pidl.Get(), path));

    int count = 0;
    const kv::LocalMemory<LPWSTR> arguments(::CommandLineToArgvW(L"program first second", &count));
    ASSERT_TRUE(arguments);
    ASSERT_EQ(count, 3);
    EXPECT_STREQ(arguments.Get()[2], L"second");
}

} // namespace
