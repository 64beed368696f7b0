#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/LangDataUnit.h"
#include "cleaner/windows/LanguageUnit.h"
#include "cleaner/windows/UiText.h"
#include "common/FormDriver.h"
#include "common/TestSupport.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"
#include "platform/forms/Timer.h"

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

// ---------------------------------------------------------------------------
// The chooser's window

// Works the chooser from inside its modal loop once it is up, as a person
// would, and keeps what it showed. A chooser the action leaves open is closed
// after a while, so a fault fails the test instead of hanging it.
// What the chooser showed, and how it went.
struct ChooserSeen {
    int timesShown = 0;
    bool leftOpen = false;
    std::wstring caption;
    std::vector<std::wstring> items;
    std::wstring preselected;
};

class ChooserDriver : public ChooserSeen {
public:
    using Action = std::function<void(kv::TLanguageForm&)>;
    explicit ChooserDriver(Action act) : act_(std::move(act))
    {
        poll_.OnTimer = [this] { Poll(); };
        poll_.Start();
    }

private:
    void Poll()
    {
        HWND window = kvtest::FindForm(L"TLanguageForm");
        if (!window || !::IsWindowVisible(window)) return;
        if (window == served_) {
            if (::GetTickCount() - servedAt_ > 5000) {
                leftOpen = true;
                ::PostMessageW(window, WM_CLOSE, 0, 0);
            }
            return;
        }
        served_ = window;
        servedAt_ = ::GetTickCount();
        ++timesShown;
        auto& form = dynamic_cast<kv::TLanguageForm&>(*kvtest::FindFormObject(L"TLanguageForm"));
        caption = form.Text();
        items.clear();
        for (int i = 0; i < form.LangComboBox->Count(); ++i) items.push_back(form.LangComboBox->Item(i));
        preselected = form.LangComboBox->Text();
        if (act_) act_(form);
    }

    Action act_;
    kv::forms::Timer poll_{20};
    HWND served_ = nullptr;
    DWORD servedAt_ = 0;
};

void ChooseAndPressOk(kv::TLanguageForm& form, const std::wstring& name)
{
    kvtest::ChooseComboItem(*form.LangComboBox, name);
    kvtest::Click(*form.OKButton);
}

const std::wstring SettingsKey = std::wstring(kv::LegacySettingsKey) + L"\\Settings";
constexpr char German[] = "[Info]\r\nLanguage=Deutsch\r\n[Strings]\r\n0141=Willkommen\r\n0189=Sprache w\xE4hlen\r\n";

class ChooserWindow : public LanguageChooser {
protected:
    void SetUp() override
    {
        LanguageChooser::SetUp();
        kvtest::StartApplication();
        savedRoot_ = kv::SettingsRoot;
        kv::SettingsRoot = kv::LegacySettingsKey;
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, kv::LegacySettingsKey);
        kv::JobMode = false;
    }
    void TearDown() override
    {
        kv::SetUiTextSource(nullptr);
        kv::JobMode = false;
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, kv::LegacySettingsKey);
        kv::SettingsRoot = savedRoot_;
        LanguageChooser::TearDown();
    }

    static void StoreLanguage(const wchar_t* fileName)
    {
        kv::RegistryKey::Create(HKEY_CURRENT_USER, SettingsKey).WriteString(L"Language", fileName);
    }

    // Runs the chooser modally as the Options menu does, worked by `act`.
    static ChooserSeen RunChooser(const ChooserDriver::Action& act)
    {
        ChooserDriver driver(act);
        kv::TLanguageForm chooser;
        chooser.ShowModal();
        return driver;
    }

private:
    std::wstring savedRoot_;
};

TEST_F(ChooserWindow, StartUpAsksForALanguageWhenTheChosenFileIsMissing)
{
    const std::wstring german = Write(L"de.ini", German);
    for (const wchar_t* stored : {L"gone.ini", L""}) {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, kv::LegacySettingsKey);
        if (*stored) StoreLanguage(stored);
        kv::LanguageFile.clear();
        ChooserDriver driver([](kv::TLanguageForm& form) { ChooseAndPressOk(form, L"Deutsch"); });
        kv::PrepareStartupLanguage();

        EXPECT_EQ(driver.timesShown, 1);
        EXPECT_FALSE(driver.leftOpen);
        EXPECT_EQ(driver.caption, L"Select your language skin!");
        EXPECT_EQ(driver.items, (std::vector<std::wstring>{L"Deutsch", L"English"}));
        EXPECT_EQ(driver.preselected, L"English");
        EXPECT_EQ(kv::LanguageFile, german);
        EXPECT_EQ(kv::LanguageText(141), L"Willkommen");
        EXPECT_EQ(kv::UiText(141), L"Willkommen") << "the windows take their texts from the loaded table";
        EXPECT_EQ(kvtest::FindForm(L"TLanguageForm"), nullptr) << "the chooser is freed after use";
    }
}

TEST_F(ChooserWindow, StartUpTakesTheTemplateWhenTheUserJustPressesOk)
{
    Write(L"de.ini", German);
    ChooserDriver driver([](kv::TLanguageForm& form) { kvtest::Click(*form.OKButton); });
    kv::PrepareStartupLanguage();
    EXPECT_EQ(driver.timesShown, 1);
    EXPECT_EQ(kv::LanguageFile, kv::LanguageTemplatePath());
    EXPECT_EQ(kv::UiText(141), L"Welcome to Kestrelvane!");
}

TEST_F(ChooserWindow, StartUpWithTheStoredFileShowsNoChooser)
{
    const std::wstring german = Write(L"de.ini", German);
    StoreLanguage(L"de.ini");
    ChooserDriver driver(nullptr);
    kv::PrepareStartupLanguage();
    EXPECT_EQ(driver.timesShown, 0);
    EXPECT_EQ(kv::LanguageFile, german);
    EXPECT_EQ(kv::UiText(141), L"Willkommen");
}

TEST_F(ChooserWindow, AStoredNameWithAPathCountsAsNoFile)
{
    // A German file outside the language folder, and one inside it.
    kvtest::WriteBytes(kv::ProgramFolder + L"outside.ini", German);
    Write(L"de.ini", German);
    for (const std::wstring& stored : {std::wstring(L"..\\outside.ini"), kv::ProgramFolder + L"outside.ini",
                                       std::wstring(L"../outside.ini")}) {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, kv::LegacySettingsKey);
        StoreLanguage(stored.c_str());
        kv::LanguageFile.clear();
        ChooserDriver driver([](kv::TLanguageForm& form) { kvtest::Click(*form.OKButton); });
        kv::PrepareStartupLanguage();
        EXPECT_EQ(driver.timesShown, 1) << testing::PrintToString(stored);
        EXPECT_EQ(kv::LanguageFile, kv::LanguageTemplatePath());
        EXPECT_EQ(kv::UiText(141), L"Welcome to Kestrelvane!");
    }
    // In a job the same value falls back to English without asking.
    kv::JobMode = true;
    ChooserDriver driver(nullptr);
    kv::PrepareStartupLanguage();
    EXPECT_EQ(driver.timesShown, 0);
    EXPECT_EQ(kv::UiText(141), L"Welcome to Kestrelvane!");
}

TEST_F(ChooserWindow, JobModeNeverShowsTheChooser)
{
    Write(L"de.ini", German);
    kv::JobMode = true;
    for (const wchar_t* stored : {L"gone.ini", L""}) {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, kv::LegacySettingsKey);
        if (*stored) StoreLanguage(stored);
        ChooserDriver driver([](kv::TLanguageForm& form) { ChooseAndPressOk(form, L"Deutsch"); });
        kv::PrepareStartupLanguage();
        kvtest::Pump(100);
        EXPECT_EQ(driver.timesShown, 0);
        EXPECT_EQ(kv::LanguageFile, kv::LanguageTemplatePath());
        EXPECT_EQ(kv::UiText(141), L"Welcome to Kestrelvane!");
    }
}

TEST_F(ChooserWindow, ListsEnglishForTheTemplateAndNoneForAFileWithoutAName)
{
    ASSERT_TRUE(kv::WriteLanguageTemplate());
    Write(L"nameless.ini", "[Strings]\r\n0141=x\r\n");
    kv::TLanguageForm chooser;
    EXPECT_EQ(kvtest::FindForm(L"TLanguageForm"), chooser.Handle());
    std::vector<std::wstring> items;
    for (int i = 0; i < chooser.LangComboBox->Count(); ++i) items.push_back(chooser.LangComboBox->Item(i));
    EXPECT_EQ(items, (std::vector<std::wstring>{L"English", L"None"}));
    EXPECT_EQ(chooser.LanguageList.Lines(), (std::vector<std::wstring>{L"None", Path(L"nameless.ini"), L"English",
                                                                       kv::LanguageTemplatePath()}));
}

TEST_F(ChooserWindow, LooksAsDesigned)
{
    kv::TLanguageForm chooser;
    RECT client{};
    ::GetClientRect(chooser.Handle(), &client);
    EXPECT_EQ(client.right, 412);
    EXPECT_EQ(client.bottom, 201);
    const LONG style = ::GetWindowLongW(chooser.Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_THICKFRAME) << "a fixed dialog border";
    EXPECT_EQ(chooser.Text(), L"Select your language skin!");
    EXPECT_EQ(kvtest::TextOf(*chooser.Label1), L"Please select the language you want to use.");
    EXPECT_EQ(kvtest::TextOf(*chooser.labGetLanguagePack), L"Get more language skins from our website ...");
    EXPECT_EQ(kvtest::TextOf(*chooser.OKButton), L"OK");
    EXPECT_EQ(chooser.labGetLanguagePack->Cursor(), ::LoadCursorW(nullptr, IDC_HAND));
    EXPECT_EQ(chooser.labGetLanguagePack->Font().name, kv::forms::ScreenHintFontName());
    EXPECT_FALSE(chooser.LanguageImage->Picture().Empty());
    EXPECT_LT(chooser.LanguageImage->Left() + chooser.LanguageImage->Width(), chooser.LangComboBox->Left())
        << "the picture is on the left";
    EXPECT_TRUE(::GetWindowLongW(chooser.LangComboBox->Handle(), GWL_STYLE) & CBS_SORT);
    EXPECT_EQ(chooser.FindControl(L"LangComboBox"), chooser.LangComboBox);
}

TEST_F(ChooserWindow, CaptionFollowsTheLanguageTable)
{
    Write(L"de.ini", German);
    kv::LoadLanguage(Path(L"de.ini"));
    kv::SetUiTextSource([](int index) { return kv::LanguageText(index); });
    kv::TLanguageForm chooser;
    EXPECT_EQ(chooser.Text(), kv::AnsiToWide("Sprache w\xE4hlen"));
}

TEST_F(ChooserWindow, PreselectsTheCurrentFile)
{
    ASSERT_TRUE(kv::WriteLanguageTemplate());
    const std::wstring german = Write(L"de.ini", German);
    Write(L"aa.ini", "[Info]\r\nLanguage=Afrikaans\r\n");
    const std::map<std::wstring, std::wstring> cases = {
        {german, L"Deutsch"},
        {kv::LanguageFolder() + L"DE.INI", L"Deutsch"},
        {kv::LanguageTemplatePath(), L"English"},
        {kv::LanguageFolder() + L"gone.ini", L""},
        {L"", L""},
    };
    for (const auto& [file, shown] : cases) {
        kv::LanguageFile = file;
        kv::TLanguageForm chooser;
        EXPECT_EQ(chooser.LangComboBox->Text(), shown) << testing::PrintToString(file);
        chooser.SelectStartupChoice();
        EXPECT_EQ(chooser.LangComboBox->Text(), L"English") << "start-up prefers the template";
    }
}

TEST_F(ChooserWindow, OkTakesTheFileOfTheChosenName)
{
    ASSERT_TRUE(kv::WriteLanguageTemplate());
    // Two files of one name: the first by file name wins, whatever the file system's order.
    Write(L"zz-de.ini", German);
    const std::wstring first = Write(L"de.ini", German);
    kv::LanguageFile = kv::LanguageTemplatePath();
    const ChooserSeen driver = RunChooser([](kv::TLanguageForm& form) { ChooseAndPressOk(form, L"Deutsch"); });
    EXPECT_EQ(driver.timesShown, 1);
    EXPECT_EQ(driver.preselected, L"English");
    EXPECT_EQ(driver.items, (std::vector<std::wstring>{L"Deutsch", L"Deutsch", L"English"}));
    EXPECT_EQ(kv::LanguageFile, first);
    EXPECT_EQ(kv::LanguageText(141), L"Welcome to Kestrelvane!") << "loading is the caller's step";
}

TEST_F(ChooserWindow, OkWithNothingSelectedChangesNothing)
{
    // No language folder at all: the list is empty.
    kv::LanguageFile = L"C:\\kvtest\\none\\current.ini";
    ChooserSeen driver = RunChooser([](kv::TLanguageForm& form) { kvtest::Click(*form.OKButton); });
    EXPECT_TRUE(driver.items.empty());
    EXPECT_FALSE(driver.leftOpen) << "OK closes the chooser";
    EXPECT_EQ(kv::LanguageFile, L"C:\\kvtest\\none\\current.ini");

    // Files listed, but the current file is not among them: nothing is preselected.
    Write(L"de.ini", German);
    driver = RunChooser([](kv::TLanguageForm& form) { kvtest::Click(*form.OKButton); });
    EXPECT_EQ(driver.preselected, L"");
    EXPECT_FALSE(driver.leftOpen);
    EXPECT_EQ(kv::LanguageFile, L"C:\\kvtest\\none\\current.ini");
}

TEST_F(ChooserWindow, KeysWorkAsInAnyDialog)
{
    ASSERT_TRUE(kv::WriteLanguageTemplate());
    const std::wstring german = Write(L"de.ini", German);
    kv::LanguageFile = kv::LanguageTemplatePath();
    ChooserSeen driver = RunChooser([](kv::TLanguageForm& form) {
        kvtest::ChooseComboItem(*form.LangComboBox, L"Deutsch");
        kvtest::PressKey(*form.LangComboBox, VK_ESCAPE);
    });
    EXPECT_FALSE(driver.leftOpen) << "Escape closes the chooser";
    EXPECT_EQ(kv::LanguageFile, kv::LanguageTemplatePath()) << "and changes nothing";

    driver = RunChooser([](kv::TLanguageForm& form) {
        kvtest::ChooseComboItem(*form.LangComboBox, L"Deutsch");
        kvtest::PressKey(*form.LangComboBox, VK_RETURN);
    });
    EXPECT_FALSE(driver.leftOpen) << "Enter presses OK";
    EXPECT_EQ(kv::LanguageFile, german);
}

TEST_F(ChooserWindow, TheLinkOpensTheLanguagePage)
{
    kv::TLanguageForm chooser;
    int opened = 0;
    chooser.OpenPackPage = [&] { ++opened; };
    chooser.Show();
    kvtest::Click(*chooser.labGetLanguagePack);
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(kvtest::IsFormVisible(L"TLanguageForm")) << "the chooser stays open";
}

// What the main window does with its language table, recorded.
class MainWindowRecorder : public kv::MainWindowLanguageTarget {
public:
    void SetLanguageText(const kv::LanguageBinding& binding, const std::wstring& text) override
    {
        if (binding.slot == kv::LanguageSlot::Caption) captions[binding.control] = text;
    }
    void RefreshCurrentPage() override { ++refreshed; }
    std::map<std::wstring, std::wstring> captions;
    int refreshed = 0;
};

TEST_F(ChooserWindow, TheOptionsMenuLoadsAndAppliesTheChoice)
{
    const std::wstring german = Write(L"de.ini", German);
    kv::LanguageFile = kv::LanguageTemplatePath();
    MainWindowRecorder mainWindow;
    {
        ChooserDriver driver([](kv::TLanguageForm& form) { ChooseAndPressOk(form, L"Deutsch"); });
        kv::ChangeLanguage(mainWindow);
        EXPECT_EQ(driver.timesShown, 1);
        EXPECT_EQ(driver.preselected, L"English") << "the template was written before the chooser opened";
    }
    EXPECT_EQ(kv::LanguageFile, german);
    EXPECT_EQ(mainWindow.captions[L"HintLabel"], L"Willkommen");
    EXPECT_EQ(mainWindow.refreshed, 1);

    // Closed without a choice: the current file is loaded again.
    ChooserDriver closer([](kv::TLanguageForm& form) { kvtest::PressKey(*form.OKButton, VK_ESCAPE); });
    kv::ChangeLanguage(mainWindow);
    EXPECT_EQ(closer.timesShown, 1);
    EXPECT_EQ(kv::LanguageFile, german);
    EXPECT_EQ(mainWindow.captions[L"HintLabel"], L"Willkommen");
    EXPECT_EQ(mainWindow.refreshed, 2);
}

// ---------------------------------------------------------------------------
// The windows' view of the table

TEST(UiTextSource, EnglishUntilTheProgramPointsItAtTheTable)
{
    kv::SetUiTextSource(nullptr);
    EXPECT_EQ(kv::UiText(59), L"Cleaning Progress");
    EXPECT_EQ(kv::UiText(189), L"Select your language skin!");
    EXPECT_EQ(kv::UiText(213), L"A task file has been created successfully!\n\nFile name: %s");
    EXPECT_EQ(kv::UiText(7), L"") << "reserved";
    EXPECT_EQ(kv::UiText(-1), L"");
    EXPECT_EQ(kv::UiText(255), L"");
}

} // namespace

// ---------------------------------------------------------------------------
// Every window in a language whose texts are 40 % longer than English, as
// many translations are: no button cuts its caption.

#include "MainWindowTestSupport.h"
#include "cleaner/windows/AddFolderUnit.h"
#include "cleaner/windows/CaptionButton.h"
#include "cleaner/windows/CleanPage.h"
#include "cleaner/windows/CookiesManagerUnit.h"
#include "cleaner/windows/CreateTaskUnit.h"
#include "cleaner/windows/EditItemUnit.h"
#include "cleaner/windows/GuideUnit.h"
#include "cleaner/windows/ProgressUnit.h"
#include "cleaner/windows/SpecifyFolderUnit.h"
#include "common/LongerLanguage.h"

namespace {

class LongerLanguage : public kvtest::MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        kv::LoadLanguage(kvtest::WriteLongerLanguageFile(kvtest::ScratchFolder(L"LongerLanguage")));
        kv::SetUiTextSource([](int index) { return kv::LanguageText(index); });
        ASSERT_EQ(kv::LanguageText(124), L"Clean Now Cle");
    }
    void TearDown() override
    {
        kv::SetUiTextSource(nullptr);
        MainWindowTest::TearDown();
        kv::LoadDefaultLanguage();
    }

    // A caption written by the program over a picture button or a label that
    // acts as a button: "name: caption" when it does not fit.
    static void ExpectFits(std::vector<std::wstring>& cut, kv::forms::Control& control, int room)
    {
        if (kvtest::TextWidth(control, control.Text(), false) > room) cut.push_back(control.Name() + L": " + control.Text());
    }
};

TEST_F(LongerLanguage, TheMainWindowCutsNoCaptionAtItsDesignedOrItsSmallestSize)
{
    Open();
    const SIZE sizes[] = {{0, 0}, {kv::TMainForm::kMinWidth, kv::TMainForm::kMinHeight}};
    for (const SIZE size : sizes) {
        if (size.cx) ::SetWindowPos(form->Handle(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        for (int page = 0; page < kv::MainPageCount; ++page) {
            kvtest::Click(form->PageButton(page));
            std::vector<std::wstring> cut = kvtest::CutButtonCaptions(*form);
            for (int other = 0; other < kv::MainPageCount; ++other) {
                kv::TCaptionButton& button = form->PageButton(other);
                ExpectFits(cut, button, button.Width() - 4 - button.CaptionLeft);
            }
            for (kv::TCaptionButton* button : {form->StartButton, form->StopButton, form->CleanNowButton})
                ExpectFits(cut, *button, button->Width() - 4 - button->CaptionLeft);
            EXPECT_EQ(cut, std::vector<std::wstring>{}) << "page " << page << " at " << size.cx << " x " << size.cy;
            if (page == kv::pgClean) {
                const kv::forms::ListView& targets = *form->CleanPage().CleanListView;
                for (int column = 0; column < targets.ColumnCount(); ++column)
                    EXPECT_GE(targets.ColumnWidth(column), kvtest::WidestCell(targets, column))
                        << "Clean page column " << column << " at " << size.cx << " x " << size.cy;
            }
        }
    }
}

struct DialogCase {
    const char* name;
    std::function<std::unique_ptr<kv::forms::Form>(kv::TMainForm&)> open;
    friend void PrintTo(const DialogCase& c, std::ostream* out) { *out << c.name; }
};

class LongerLanguageDialogs : public LongerLanguage, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(LongerLanguageDialogs, CutNoButtonCaption)
{
    Open();
    std::unique_ptr<kv::forms::Form> dialog = GetParam().open(*form);
    dialog->Show();
    kvtest::Pump(50);
    std::vector<std::wstring> cut = kvtest::CutButtonCaptions(*dialog);
    if (auto* progress = dynamic_cast<kv::TProgressForm*>(dialog.get()))
        ExpectFits(cut, *progress->HideProgressPanelButton, progress->HideProgressPanelButton->Width());
    if (auto* guide = dynamic_cast<kv::TfrmGuide*>(dialog.get()))
        ExpectFits(cut, *guide->labShowNextTime, guide->labShowNextTime->Width());
    EXPECT_EQ(cut, std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(
    EveryWindow, LongerLanguageDialogs,
    ::testing::Values(
        DialogCase{"FilterEditor",
                   [](kv::TMainForm& main) {
                       return std::make_unique<kv::TEditItemForm>(*main.FiltersPage().FiltersListView);
                   }},
        DialogCase{"ScanPathDialog",
                   [](kv::TMainForm& main) {
                       auto dialog = std::make_unique<kv::TAddFolderForm>(*main.PathPage().PathListView);
                       dialog->Tag = kv::TAddFolderForm::modeEdit; // no folder picker at once
                       return dialog;
                   }},
        DialogCase{"BackupFolderDialog",
                   [](kv::TMainForm& main) { return std::make_unique<kv::TSpecifyFolderForm>(main.Settings); }},
        DialogCase{"JobFileDialog",
                   [](kv::TMainForm& main) { return std::make_unique<kv::TCreateTaskForm>(main.Settings); }},
        DialogCase{"LanguageChooser", [](kv::TMainForm&) { return std::make_unique<kv::TLanguageForm>(); }},
        DialogCase{"CookiesManagerWithItsAddPanel",
                   [](kv::TMainForm&) {
                       auto manager = std::make_unique<kv::TCookiesManagerForm>();
                       manager->imgAddCookieClick();
                       return manager;
                   }},
        DialogCase{"ProgressWindow", [](kv::TMainForm&) { return std::make_unique<kv::TProgressForm>(); }},
        DialogCase{"BalloonTip",
                   [](kv::TMainForm&) {
                       auto guide = std::make_unique<kv::TfrmGuide>();
                       guide->labShowNextTime->SetText(kv::LanguageText(232));
                       return guide;
                   }}),
    [](const ::testing::TestParamInfo<DialogCase>& info) { return std::string(info.param.name); });

} // namespace
