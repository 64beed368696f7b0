#include <gtest/gtest.h>

#include <set>
#include <string>

#include "crashreport/core/ETypes.h"

namespace {

TEST(ETypes, MessageTable)
{
    std::set<std::string> identifiers;
    for (const auto& entry : kv::crashreport::MessageTypeTable) {
        EXPECT_TRUE(identifiers.insert(entry.Identifier).second) << entry.Identifier;
        EXPECT_EQ(std::string(entry.Identifier).rfind("mt", 0), 0u);
    }
    EXPECT_EQ(identifiers.size(), 158u);
    EXPECT_STREQ(kv::crashreport::MessageTypeIdentifier(kv::crashreport::mtDialog_Caption), "mtDialog_Caption");
    EXPECT_STREQ(kv::crashreport::DefaultMessageText(kv::crashreport::mtInformationMsgCaption), "Information.");
    EXPECT_STREQ(kv::crashreport::DefaultMessageText(kv::crashreport::mtDialog_ErrorMsgCaption),
                 "An error has occurred during program execution.\r\nPlease read the following information for "
                 "further details.");
    EXPECT_STREQ(kv::crashreport::DefaultMessageText(kv::crashreport::mtMSDialog_NoSendButtonCaption), "&Don't Send");
    EXPECT_STREQ(kv::crashreport::DefaultMessageText(kv::crashreport::mtSend_BugClosedMsg),
                 "These BUG is just closed.\r\nContact the program support to obtain an update.");
    EXPECT_EQ(kv::crashreport::mtSend_InvalidModifyMsg, 152);
    EXPECT_EQ(kv::crashreport::mtException_LeakMultiFree, 154);
    EXPECT_STREQ(kv::crashreport::DefaultMessageText(kv::crashreport::mtInvalidEmailMsg), "Invalid email.");
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
