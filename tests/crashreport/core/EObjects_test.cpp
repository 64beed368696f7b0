#include <gtest/gtest.h>

#include <stdexcept>

#include "crashreport/core/EObjects.h"
#include "platform/Stream.h"

namespace {

struct EOspreyTestError : std::runtime_error {
    EOspreyTestError() : std::runtime_error("test") {}
};
struct Mixin {
    virtual ~Mixin() = default;
};
struct EMixedError : EOspreyTestError, Mixin {};

TEST(EObjects, ClassNamesAndAncestors)
{
    EOspreyTestError error;
    EXPECT_TRUE(kv::crashreport::IsValidObject(&error));
    EXPECT_EQ(kv::crashreport::ClassNameOf(&error), "(anonymous namespace)::EOspreyTestError");
    EXPECT_TRUE(kv::crashreport::ObjectInheritsFromName(&error, "std::runtime_error"));
    EXPECT_TRUE(kv::crashreport::ObjectInheritsFromName(&error, " exception "));
    EXPECT_TRUE(kv::crashreport::ObjectInheritsFromName(&error, "eospreytesterror"));
    EXPECT_FALSE(kv::crashreport::ObjectInheritsFromName(&error, "EAbort"));
    EXPECT_TRUE(kv::crashreport::InheritsFromByName(&error, typeid(std::exception)));
    EXPECT_TRUE(kv::crashreport::InheritsFromAnyByName(&error, {&typeid(kv::EAbort), &typeid(std::runtime_error)}));
    EXPECT_TRUE(kv::crashreport::IsReportableObject(&error));
    EXPECT_TRUE(kv::crashreport::IsNativeRaisedException(&error));
    EXPECT_EQ(kv::crashreport::ClassParentsOf(typeid(error)),
              (std::vector<std::string>{"(anonymous namespace)::EOspreyTestError", "std::runtime_error",
                                        "std::exception"}));
}

TEST(EObjects, MultipleBasesAreWalked)
{
    EMixedError error;
    EXPECT_TRUE(kv::crashreport::ObjectInheritsFromName(&error, "Mixin"));
    EXPECT_TRUE(kv::crashreport::ObjectInheritsFromName(&error, "std::exception"));
    EXPECT_TRUE(kv::crashreport::ObjectInheritsFromNameUnchecked(&error, "Mixin"));
}

TEST(EObjects, SilentAbortIsNotReportable)
{
    kv::EAbort abort;
    EXPECT_FALSE(kv::crashreport::IsReportableObject(&abort));
    kv::EReadError readError;
    EXPECT_TRUE(kv::crashreport::ObjectInheritsFromName(&readError, "kv::EStreamError"));
}

TEST(EObjects, DamagedPointersAreRejected)
{
    EXPECT_FALSE(kv::crashreport::IsValidObject(nullptr));
    EXPECT_FALSE(kv::crashreport::IsValidObject(reinterpret_cast<void*>(0x10)));
    const void* garbage[4] = {reinterpret_cast<void*>(0x12345678), nullptr, nullptr, nullptr};
    EXPECT_FALSE(kv::crashreport::IsValidObject(garbage));
    int plain = 7;
    EXPECT_FALSE(kv::crashreport::IsValidObject(&plain));
    EXPECT_EQ(kv::crashreport::ClassNameOf(&plain), "");
    EXPECT_FALSE(kv::crashreport::IsValidVMT(&typeid(int))); // no class
    EXPECT_FALSE(kv::crashreport::ClassInheritsFromName(nullptr, "x"));
    EXPECT_TRUE(kv::crashreport::IsValidClassName("TMainForm"));
    EXPECT_FALSE(kv::crashreport::IsValidClassName("bad\x01name"));
}

TEST(EObjects, ActiveXExceptionKeepsItsParents)
{
    kv::crashreport::TActiveXException error("EOleError\r\nException\r\nTObject", "Class not registered");
    EXPECT_EQ(error.ExceptionType(), "EOleError");
    EXPECT_EQ(error.Parents().size(), 3u);
    EXPECT_STREQ(error.what(), "Class not registered");
    kv::crashreport::TActiveXException empty("", "m");
    EXPECT_EQ(empty.ExceptionType(), "");
}

kv::crashreport::ThreadExceptionClassRecord g_record;
kv::crashreport::ThreadExceptionClassRecord* Record() { return &g_record; }

TEST(EObjects, ThreadExceptionClassRecord)
{
    EOspreyTestError error;
    kv::crashreport::RecordThreadExceptionClass(&error, 1); // no provider: nothing happens
    kv::crashreport::SetThreadExceptionClassRecordProvider(Record);
    kv::crashreport::RecordThreadExceptionClass(&error, 5);
    EXPECT_STREQ(g_record.ClassName, "(anonymous namespace)::EOspreyTestError");
    EXPECT_EQ(g_record.Value, 5);
    kv::crashreport::SetThreadExceptionClassRecordProvider(nullptr);
}

} // namespace
