#include <gtest/gtest.h>

#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/LangDataUnit.h"
#include "cleaner/windows/LanguageUnit.h"
#include "common/TestSupport.h"
#include "platform/TextCodec.h"

namespace {

class LanguageChooser : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedProgramFolder_ = kv::ProgramFolder;
        savedLanguageFile_ = kv::LanguageFile;
        kv::ProgramFolder = kvtest::ScratchFolder(L"Chooser");
    }
    void TearDown() override
    {
        kv::ProgramFolder = savedProgramFolder_;
        kv::LanguageFile = savedLanguageFile_;
    }

    std::wstring Write(const wchar_t* name, std::string_view bytes)
    {
        ::CreateDirectoryW(kv::LanguageFolder().c_str(), nullptr);
        const std::wstring path = kv::LanguageFolder() + name;
        kvtest::WriteBytes(path, bytes);
        return path;
    }

    std::wstring Path(const wchar_t* name) { return kv::LanguageFolder() + name; }

private:
    std::wstring savedProgramFolder_;
    std::wstring savedLanguageFile_;
};

TEST_F(LanguageChooser, WithOnlyTheTemplateTheListHoldsEnglish)
{
    ASSERT_TRUE(kv::WriteLanguageTemplate());
    const kv::StringList list = kv::ListLanguageFiles();
    EXPECT_EQ(list.Lines(), (std::vector<std::wstring>{L"English", kv::LanguageTemplatePath()}));
    EXPECT_EQ(kv::LanguageChoices(list), std::vector<std::wstring>{L"English"});
    EXPECT_EQ(kv::LanguageFileForChoice(list, L"English"), kv::LanguageTemplatePath());
    EXPECT_EQ(kv::LanguageFileForChoice(list, L"ENGLISH"), kv::LanguageTemplatePath());
    EXPECT_EQ(kv::LanguageFileForChoice(list, L""), std::nullopt); // OK with nothing selected changes nothing
}

TEST_F(LanguageChooser, FilesWithoutANameAreListedAsNone)
{
    Write(L"nameless.ini", "[Strings]\r\n0141=x\r\n");
    Write(L"emptyname.ini", "[Info]\r\nLanguage=\r\n");
    Write(L"badcodepage.ini", "[Info]\r\nLanguage=Klingon\r\nCodePage=12345\r\n");
    Write(L"wide.ini", std::string("\xFF\xFE[\0I\0n\0f\0o\0]\0\r\0\n\0L\0a\0n\0g\0u\0a\0g\0e\0=\0\x14\x04\x30\x04", 40));
    const kv::StringList list = kv::ListLanguageFiles();
    EXPECT_EQ(list.Lines(), (std::vector<std::wstring>{L"None", Path(L"badcodepage.ini"), L"None", Path(L"emptyname.ini"),
                                                       L"None", Path(L"nameless.ini"), L"\u0414\u0430",
                                                       Path(L"wide.ini")}));
}

TEST_F(LanguageChooser, OnlyIniFilesAreListed)
{
    Write(L"a.ini", "[Info]\r\nLanguage=A\r\n");
    Write(L"notes.inix", "[Info]\r\nLanguage=Inix\r\n");
    Write(L"Unicode.txt", "\xFF\xFE");
    ::CreateDirectoryW(Path(L"Folder.ini").c_str(), nullptr);
    const kv::StringList list = kv::ListLanguageFiles();
    EXPECT_EQ(list.Lines(), (std::vector<std::wstring>{L"A", Path(L"a.ini")}));
}

TEST_F(LanguageChooser, NoLanguageFolderListsNothing)
{
    const kv::StringList list = kv::ListLanguageFiles();
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(kv::StartupLanguageChoice(list), L"");
}

// Two files with the same name resolve to the same one, whatever order the
// file system enumerates them in (Wine sorts its listings, FAT and network
// shares do not).
TEST_F(LanguageChooser, ListIsIndependentOfEnumerationOrder)
{
    const std::vector<std::wstring> found = {Write(L"zz-de.ini", "[Info]\r\nLanguage=Deutsch\r\n"),
                                             Write(L"Template.ini", "[Info]\r\nLanguage=English\r\n"),
                                             Write(L"AA-de.ini", "[Info]\r\nLanguage=Deutsch\r\n"),
                                             Write(L"mid.ini", "[Info]\r\nLanguage=Espa\xF1ol\r\n")};
    const std::vector<std::wstring> expected = {L"Deutsch", Path(L"AA-de.ini"), kv::AnsiToWide("Espa\xF1ol"),
                                                Path(L"mid.ini"), L"English", kv::LanguageTemplatePath(),
                                                L"Deutsch", Path(L"zz-de.ini")};
    for (const bool reversed : {false, true}) {
        const kv::StringList list =
            kv::BuildLanguageList(reversed ? std::vector<std::wstring>(found.rbegin(), found.rend()) : found);
        EXPECT_EQ(list.Lines(), expected);
        EXPECT_EQ(kv::LanguageFileForChoice(list, L"Deutsch"), Path(L"AA-de.ini"));
        EXPECT_EQ(kv::LanguageFileForChoice(list, L"English"), kv::LanguageTemplatePath());
    }
    EXPECT_EQ(kv::ListLanguageFiles().Lines(), expected);
}

TEST_F(LanguageChooser, PreselectionFollowsTheCurrentFileOrTheTemplate)
{
    ASSERT_TRUE(kv::WriteLanguageTemplate());
    const std::wstring german = Write(L"de.ini", "[Info]\r\nLanguage=Deutsch\r\n");
    Write(L"aa.ini", "[Info]\r\nLanguage=Afrikaans\r\n");
    const kv::StringList list = kv::ListLanguageFiles();

    EXPECT_EQ(kv::LanguageChoiceFor(list, german), L"Deutsch");
    EXPECT_EQ(kv::LanguageChoiceFor(list, kv::LanguageFolder() + L"DE.INI"), L"Deutsch");
    EXPECT_EQ(kv::LanguageChoiceFor(list, kv::LanguageFolder() + L"gone.ini"), L"");
    EXPECT_EQ(kv::LanguageChoiceFor(list, L"Deutsch"), L""); // a name is not a file
    // At start-up the template wins even over names that sort first.
    EXPECT_EQ(kv::StartupLanguageChoice(list), L"English");

    ::DeleteFileW(kv::LanguageTemplatePath().c_str());
    EXPECT_EQ(kv::StartupLanguageChoice(kv::ListLanguageFiles()), L"Afrikaans");
}

TEST(LanguageChoices, SortLikeTheComboBoxIgnoringCase)
{
    kv::StringList list;
    for (const wchar_t* name : {L"zulu", L"Z1", L"English", L"deutsch", L"None"}) {
        list.Add(name);
        list.Add(std::wstring(L"C:\\x\\") + name + L".ini");
    }
    EXPECT_EQ(kv::LanguageChoices(list),
              (std::vector<std::wstring>{L"deutsch", L"English", L"None", L"Z1", L"zulu"}));
}

// ---------------------------------------------------------------------------
// The language step of start-up

TEST_F(LanguageChooser, StoredFileThatExistsIsLoadedWithoutTheChooser)
{
    Write(L"de.ini", "[Info]\r\nLanguage=Deutsch\r\n[Strings]\r\n0141=Willkommen\r\n");
    int shown = 0;
    kv::LoadStartupLanguage(L"de.ini", false, [&] { ++shown; });
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(kv::LanguageFile, Path(L"de.ini"));
    EXPECT_EQ(kv::LanguageText(141), L"Willkommen");
    EXPECT_TRUE(kvtest::PathExists(kv::LanguageTemplatePath())); // rewritten first
}

TEST_F(LanguageChooser, MissingFileShowsTheChooserAndLoadsItsChoice)
{
    const std::wstring french = Write(L"fr.ini", "[Info]\r\nLanguage=Fran\xE7\x61is\r\n[Strings]\r\n0141=Bienvenue\r\n");
    for (const std::optional<std::wstring>& stored : {std::optional<std::wstring>(L"gone.ini"),
                                                      std::optional<std::wstring>(), std::optional<std::wstring>(L"")}) {
        int shown = 0;
        kv::LoadStartupLanguage(stored, false, [&] {
            ++shown;
            // What the chooser does: the template preselected, OK on the French entry.
            const kv::StringList list = kv::ListLanguageFiles();
            EXPECT_EQ(kv::StartupLanguageChoice(list), L"English");
            kv::LanguageFile = *kv::LanguageFileForChoice(list, kv::AnsiToWide("Fran\xE7\x61is"));
        });
        EXPECT_EQ(shown, 1);
        EXPECT_EQ(kv::LanguageFile, french);
        EXPECT_EQ(kv::LanguageText(141), L"Bienvenue");
    }
}

TEST_F(LanguageChooser, ChooserClosedWithoutAChoiceLeavesEnglish)
{
    kv::LoadStartupLanguage(L"gone.ini", false, [] {});
    EXPECT_EQ(kv::LanguageText(141), L"Welcome to Kestrelvane!");
}

TEST_F(LanguageChooser, JobModeFallsBackToEnglishWithoutTheChooser)
{
    Write(L"de.ini", "[Info]\r\nLanguage=Deutsch\r\n[Strings]\r\n0141=Willkommen\r\n");
    int shown = 0;
    kv::LoadStartupLanguage(L"gone.ini", true, [&] { ++shown; });
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(kv::LanguageFile, kv::LanguageTemplatePath());
    EXPECT_EQ(kv::LanguageText(141), L"Welcome to Kestrelvane!");

    kv::LoadStartupLanguage(L"de.ini", true, [&] { ++shown; });
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(kv::LanguageText(141), L"Willkommen");
}

TEST_F(LanguageChooser, UnwritableLanguageFolderDoesNotStopStartUp)
{
    // "Language" is a file: neither the template nor anything else can be written.
    kvtest::WriteBytes(kv::ProgramFolder + L"Language", "in the way");
    int shown = 0;
    kv::LoadStartupLanguage(L"de.ini", true, [&] { ++shown; });
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(kv::LanguageStrings.size(), 255u);
    EXPECT_EQ(kv::LanguageText(141), L"Welcome to Kestrelvane!");

    kv::LoadStartupLanguage(L"de.ini", false, [&] {
        ++shown;
        EXPECT_TRUE(kv::ListLanguageFiles().Empty());
    });
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(kv::LanguageText(141), L"Welcome to Kestrelvane!");
}

} // namespace
