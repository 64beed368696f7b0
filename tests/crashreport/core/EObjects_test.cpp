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
    EXPECT_TRUE(kv::IsValidObject(&error));
    EXPECT_EQ(kv::ClassNameOf(&error), "(anonymous namespace)::EOspreyTestError");
    EXPECT_TRUE(kv::ObjectInheritsFromName(&error, "std::runtime_error"));
    EXPECT_TRUE(kv::ObjectInheritsFromName(&error, " exception "));
    EXPECT_TRUE(kv::ObjectInheritsFromName(&error, "eospreytesterror"));
    EXPECT_FALSE(kv::ObjectInheritsFromName(&error, "EAbort"));
    EXPECT_TRUE(kv::InheritsFromByName(&error, typeid(std::exception)));
    EXPECT_TRUE(kv::InheritsFromAnyByName(&error, {&typeid(kv::EAbort), &typeid(std::runtime_error)}));
    EXPECT_TRUE(kv::IsReportableObject(&error));
    EXPECT_TRUE(kv::IsNativeRaisedException(&error));
    EXPECT_EQ(kv::ClassParentsOf(typeid(error)),
              (std::vector<std::string>{"(anonymous namespace)::EOspreyTestError", "std::runtime_error",
                                        "std::exception"}));
}

TEST(EObjects, MultipleBasesAreWalked)
{
    EMixedError error;
    EXPECT_TRUE(kv::ObjectInheritsFromName(&error, "Mixin"));
    EXPECT_TRUE(kv::ObjectInheritsFromName(&error, "std::exception"));
    EXPECT_TRUE(kv::ObjectInheritsFromNameUnchecked(&error, "Mixin"));
}

TEST(EObjects, SilentAbortIsNotReportable)
{
    kv::EAbort abort;
    EXPECT_FALSE(kv::IsReportableObject(&abort));
    kv::EReadError readError;
    EXPECT_TRUE(kv::ObjectInheritsFromName(&readError, "kv::EStreamError"));
}

TEST(EObjects, DamagedPointersAreRejected)
{
    EXPECT_FALSE(kv::IsValidObject(nullptr));
    EXPECT_FALSE(kv::IsValidObject(reinterpret_cast<void*>(0x10)));
    const void* garbage[4] = {reinterpret_cast<void*>(0x12345678), nullptr, nullptr, nullptr};
    EXPECT_FALSE(kv::IsValidObject(garbage));
    int plain = 7;
    EXPECT_FALSE(kv::IsValidObject(&plain));
    EXPECT_EQ(kv::ClassNameOf(&plain), "");
    EXPECT_FALSE(kv::IsValidVMT(&typeid(int))); // no class
    EXPECT_FALSE(kv::ClassInheritsFromName(nullptr, "x"));
    EXPECT_TRUE(kv::IsValidClassName("TMainForm"));
    EXPECT_FALSE(kv::IsValidClassName("bad\x01name"));
}

TEST(EObjects, ActiveXExceptionKeepsItsParents)
{
    kv::TActiveXException error("EOleError\r\nException\r\nTObject", "Class not registered");
    EXPECT_EQ(error.ExceptionType(), "EOleError");
    EXPECT_EQ(error.Parents().size(), 3u);
    EXPECT_STREQ(error.what(), "Class not registered");
    kv::TActiveXException empty("", "m");
    EXPECT_EQ(empty.ExceptionType(), "");
}

kv::ThreadExceptionClassRecord g_record;
kv::ThreadExceptionClassRecord* Record() { return &g_record; }

TEST(EObjects, ThreadExceptionClassRecord)
{
    EOspreyTestError error;
    kv::RecordThreadExceptionClass(&error, 1); // no provider: nothing happens
    kv::SetThreadExceptionClassRecordProvider(Record);
    kv::RecordThreadExceptionClass(&error, 5);
    EXPECT_STREQ(g_record.ClassName, "(anonymous namespace)::EOspreyTestError");
    EXPECT_EQ(g_record.Value, 5);
    kv::SetThreadExceptionClassRecordProvider(nullptr);
}

} // namespace
