#include <gtest/gtest.h>

#include <cstring>

#include "crashreport/core/ECore.h"
#include "crashreport/core/ESharedOptions.h"
#include "crashreport/core/ESystem.h"
#include "platform/Handles.h"

namespace {

using kv::crashreport::TOspreyModuleOptionsEx;

class SharedOptions : public ::testing::Test {
protected:
    void TearDown() override { kv::crashreport::ReleaseSharedOptionsMapping(); }
};

TEST_F(SharedOptions, NameIsProcessAndModuleInHex)
{
    EXPECT_EQ(kv::crashreport::SharedOptionsMappingName(0x1A2B, reinterpret_cast<HMODULE>(0x00400000)), "00001A2B00400000");
}

TEST_F(SharedOptions, WrittenByOneObjectReadByAnother)
{
    TOspreyModuleOptionsEx writer(kv::crashreport::OwnModuleName());
    writer.SetSMTPHost("smtp.shared");
    writer.SetCustomizedTexts(kv::crashreport::mtDialog_Caption, "Shared caption");

    TOspreyModuleOptionsEx reader(kv::crashreport::OwnModuleName());
    EXPECT_EQ(reader.SMTPHost(), "");
    reader.LoadSharedData();
    EXPECT_EQ(reader.SMTPHost(), "smtp.shared");
    EXPECT_EQ(reader.GetCustomizedTexts(kv::crashreport::mtDialog_Caption), "Shared caption");
}

TEST_F(SharedOptions, MissingCopyLeavesTheOptionsAlone)
{
    kv::crashreport::ReleaseSharedOptionsMapping();
    TOspreyModuleOptionsEx reader(kv::crashreport::OwnModuleName());
    reader.BeginUpdate(); // keeps this object from writing a copy itself
    reader.SetSMTPHost("mine");
    reader.LoadSharedData();
    EXPECT_EQ(reader.SMTPHost(), "mine");
    reader.EndUpdate();
}

// A copy made earlier, too small for the new options, is marked empty rather
// than filled with the start of the new stream.
TEST_F(SharedOptions, StreamThatDoesNotFitClearsTheFlag)
{
    TOspreyModuleOptionsEx writer(kv::crashreport::OwnModuleName());
    writer.SetSMTPHost("first");
    kv::crashreport::ReleaseSharedOptionsMapping();

    // Another module still holds a small copy open under the same name.
    const std::string name = kv::crashreport::SharedOptionsMappingName(::GetCurrentProcessId(), kv::crashreport::OwnModuleHandle());
    const std::int32_t total = 64;
    kv::KernelHandle small(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, total, name.c_str()));
    ASSERT_TRUE(small);
    kv::MapView view(::MapViewOfFile(small.Get(), FILE_MAP_ALL_ACCESS, 0, 0, total));
    ASSERT_TRUE(view);
    std::memcpy(view.Get(), &total, 4);
    static_cast<std::uint8_t*>(view.Get())[4] = 1; // claims options are present

    writer.SetSMTPHost("second"); // stores again; the stream is far bigger than 60 bytes
    EXPECT_EQ(static_cast<std::uint8_t*>(view.Get())[4], 0);

    TOspreyModuleOptionsEx reader(kv::crashreport::OwnModuleName());
    reader.LoadSharedData();
    EXPECT_EQ(reader.SMTPHost(), "");
}

TEST_F(SharedOptions, OptionsWithoutModuleHaveNoCopy)
{
    TOspreyModuleOptionsEx loose("");
    loose.SetSMTPHost("x");
    kv::crashreport::StoreSharedOptions(loose);
    TOspreyModuleOptionsEx reader("");
    reader.LoadSharedData();
    EXPECT_EQ(reader.SMTPHost(), "");
}

} // namespace
