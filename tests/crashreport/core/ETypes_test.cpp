#include <gtest/gtest.h>

#include <iterator>
#include <ostream>
#include <set>
#include <string>

#include "crashreport/core/ETypes.h"

namespace {

struct DocumentedMessageText {
    int index;
    const char* member;
    const char* text; // nullptr: the reserved entry
};

#include "data/DefaultMessageTexts.inc"

void PrintTo(const DocumentedMessageText& entry, std::ostream* out) { *out << entry.member; }

class DefaultMessageTexts : public ::testing::TestWithParam<DocumentedMessageText> {};

TEST_P(DefaultMessageTexts, MatchTheDocumentedTable)
{
    const DocumentedMessageText& expected = GetParam();
    const auto type = static_cast<kv::crashreport::TMessageType>(expected.index);
    EXPECT_STREQ(kv::crashreport::MessageTypeIdentifier(type), expected.member);
    if (expected.text) {
        EXPECT_STREQ(kv::crashreport::DefaultMessageText(type), expected.text);
    }
}

INSTANTIATE_TEST_SUITE_P(ETypes, DefaultMessageTexts, ::testing::ValuesIn(kDocumentedMessageTexts),
                         [](const ::testing::TestParamInfo<DocumentedMessageText>& info) {
                             return std::string(info.param.member);
                         });

TEST(ETypes, TheDocumentedTableCoversEveryText)
{
    ASSERT_EQ(std::size(kDocumentedMessageTexts), static_cast<size_t>(kv::crashreport::MessageTypeCount));
    for (int index = 0; index < kv::crashreport::MessageTypeCount; ++index)
        EXPECT_EQ(kDocumentedMessageTexts[index].index, index);
}

TEST(ETypes, MessageTable)
{
    std::set<std::string> identifiers;
    for (const auto& entry : kv::crashreport::MessageTypeTable) {
        EXPECT_TRUE(identifiers.insert(entry.Identifier).second) << entry.Identifier;
        EXPECT_EQ(std::string(entry.Identifier).rfind("mt", 0), 0u);
    }
    EXPECT_EQ(identifiers.size(), 158u);
    EXPECT_EQ(kv::crashreport::mtSend_InvalidModifyMsg, 152);
    EXPECT_EQ(kv::crashreport::mtException_LeakMultiFree, 154);
}

TEST(ETypes, CaptionsTagsAndDescriptions)
{
    EXPECT_STREQ(kv::crashreport::ShowOptionCaptions[kv::crashreport::soAppStartDate], "Application|Start Date");
    EXPECT_STREQ(kv::crashreport::ShowOptionCaptions[kv::crashreport::soOSBuildN], "Operating System|Build #");
    EXPECT_STREQ(kv::crashreport::ShowOptionCaptions[kv::crashreport::soCustomData], "Custom Data|All");
    EXPECT_STREQ(kv::crashreport::TagList[0], "_BugReport | Full OspreyLog bug report");
    EXPECT_STREQ(kv::crashreport::TagList[9], "AllUsersProfile | \\Documents and Settings\\All Users");

    // Every text is described exactly once, under one of the 14 headings.
    int headings = 0;
    std::set<int> described;
    for (const auto& row : kv::crashreport::MessageDescriptions) {
        if (row.No == -1)
            ++headings;
        else
            EXPECT_TRUE(described.insert(row.No).second) << row.No;
    }
    EXPECT_EQ(headings, 14);
    EXPECT_EQ(described.size(), 158u);
    EXPECT_EQ(*described.rbegin(), 157);
}

TEST(ETypes, SetsInTheirStoredForm)
{
    kv::crashreport::TShowOptions show;
    show.Include(kv::crashreport::soExcMessage); // member 11: bit 3 of byte 1
    EXPECT_EQ(show.Raw()[1], 0x08);
    EXPECT_EQ(kv::crashreport::TShowOptions::kBytes, 6);
    EXPECT_EQ(kv::crashreport::TCommonSendOptions::kBytes, 2);
    EXPECT_EQ(kv::crashreport::TLogOptions::kBytes, 1);
    const kv::crashreport::TBehaviourOptions behaviour{kv::crashreport::boCatchHandledExceptions};
    EXPECT_EQ(behaviour.Value(), 0x100u);
    EXPECT_EQ(kv::crashreport::TExceptionDialogOptions::FromValue(0x18F).Contains(kv::crashreport::edoShowAttachScreenshotOption), true);
}

} // namespace
