// The cookies manager: the two lists and what fills them, moving names, the
// add panel, the selection ramps, and the keep list through the settings store
// to the cookie clean, in this process and in a fresh one.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "cleaner/engine/CleanTargets.h"
#include "cleaner/engine/CookieIndex.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/CookiesManagerUnit.h"
#include "cleaner/windows/UiText.h"
#include "common/FormDriver.h"
#include "common/TestSupport.h"
#include "platform/Format.h"
#include "platform/Registry.h"
#include "platform/StringList.h"
#include "platform/TextCodec.h"
#include "platform/forms/Timer.h"

using kv::TCookiesManagerForm;

namespace {

constexpr wchar_t kTestRoot[] = L"Software\\Orbelune\\KestrelvaneTests\\CookiesManager";
const std::string kLongDomain = "zz-rather-long-cookie-domain-name.shop.example.com/account/settings/";

// ---- An index.dat as WinInet lays it out: a header, then one "URL " record
// per cookie naming the cookie's file behind its URL.

std::string CookieRecord(const std::string& url, const std::string& file)
{
    const std::uint32_t blocks = static_cast<std::uint32_t>((104 + url.size() + file.size() + 8) / 128 + 1);
    std::string record(blocks * 128, '\xEF');
    std::memcpy(record.data(), "URL ", 4);
    std::memcpy(record.data() + 4, &blocks, 4);
    std::memset(record.data() + 8, 0, 96);
    record.replace(104, url.size() + 1, url + '\0');
    const std::uint32_t at = static_cast<std::uint32_t>((104 + url.size() + 1 + 3) & ~std::size_t(3));
    record.replace(at, file.size() + 1, file + '\0');
    std::memcpy(record.data() + 60, &at, 4);
    return record;
}

struct FixtureCookie {
    std::string domain;
    std::string file;
};

const std::vector<FixtureCookie> kCookies = {
    {"gamma.example/", "GAMMA.txt"},  {"alpha.example/", "ALPHA.txt"}, {"Beta.example/", "BETA.txt"},
    {"keep.example/", "KEEP.txt"},    {"delta.example/", "DELTA.txt"}, {kLongDomain, "LONG.txt"},
    {"alpha.example/", "ALPHA2.txt"}, // a second cookie of one domain: one row
};

void WriteCookieStore(const std::wstring& folder)
{
    std::string index = std::string("Client UrlCache MMF Ver 5.2") + std::string(0x4000 - 27, '\0');
    for (const FixtureCookie& cookie : kCookies) {
        index += CookieRecord("Cookie:user@" + cookie.domain, cookie.file);
        kvtest::WriteBytes(folder + std::wstring(cookie.file.begin(), cookie.file.end()), "cookie\n");
    }
    kvtest::WriteBytes(folder + L"index.dat", index);
}

std::vector<std::wstring> Rows(const kv::forms::ListBox& list)
{
    std::vector<std::wstring> rows;
    for (int i = 0; i < list.Count(); ++i) rows.push_back(list.Item(i));
    return rows;
}

POINT RowCentre(const kv::forms::ListBox& list, int row)
{
    const RECT rect = list.ItemRect(row);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// A click on a row with Ctrl held: the row joins (or leaves) the selection.
void CtrlClickRow(const kv::forms::ListBox& list, int row)
{
    const POINT at = RowCentre(list, row);
    ::PostMessageW(list.Handle(), WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, MAKELPARAM(at.x, at.y));
    ::PostMessageW(list.Handle(), WM_LBUTTONUP, MK_CONTROL, MAKELPARAM(at.x, at.y));
    kvtest::Pump();
}

void ClickRow(const kv::forms::ListBox& list, int row) { kvtest::Click(list, RowCentre(list, row)); }

void SelectByName(const kv::forms::ListBox& list, std::initializer_list<const wchar_t*> names)
{
    for (const wchar_t* name : names) {
        const int row = list.IndexOf(name);
        ASSERT_GE(row, 0) << testing::PrintToString(std::wstring(name));
        CtrlClickRow(list, row);
    }
}

class CookiesManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kvtest::StartApplication();
        kv::SetUiTextSource(nullptr);
        savedRoot_ = kv::SettingsRoot;
        savedFolder_ = kv::IECookiesFolder;
        kv::SettingsRoot = kTestRoot;
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, kTestRoot);
        kv::CookieKeepList.clear();
        root_ = kvtest::ScratchFolder(L"cookies-manager");
        kv::IECookiesFolder = root_ + L"Cookies\\";
        ::CreateDirectoryW(kv::IECookiesFolder.c_str(), nullptr);
        WriteCookieStore(kv::IECookiesFolder);
        kvtest::WriteBytes(root_ + L"OUTSIDE.txt", "not a cookie of the store");
    }
    void TearDown() override
    {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, kTestRoot);
        kv::SettingsRoot = savedRoot_;
        kv::IECookiesFolder = savedFolder_;
        kv::CookieKeepList.clear();
    }

    // Opens the manager through the menu's entry and works it from inside its
    // modal loop, as a person would; returns what the entry returned.
    bool RunManager(const std::function<void(TCookiesManagerForm&)>& script)
    {
        kv::forms::Timer start(10);
        start.OnTimer = [&] {
            start.Stop();
            auto* form = dynamic_cast<TCookiesManagerForm*>(kvtest::FindFormObject(L"TCookiesManagerForm"));
            if (!form) {
                ADD_FAILURE() << "the cookies manager is not open";
                return;
            }
            EXPECT_TRUE(kvtest::IsFormVisible(L"TCookiesManagerForm"));
            script(*form);
            // A script that failed half-way must not leave the test waiting on the window.
            if (form->ModalResultValue() == kv::forms::mrNone) {
                ADD_FAILURE() << "the script did not close the manager";
                form->CancelButtonClick();
            }
        };
        start.Start();
        const bool saved = kv::ShowCookiesManager(nullptr);
        EXPECT_EQ(kvtest::FindForm(L"TCookiesManagerForm"), nullptr) << "the manager is freed after use";
        return saved;
    }

    std::wstring savedRoot_, savedFolder_, root_;
};

TEST_F(CookiesManagerTest, FillsBothListsSortedWithNoNameInBoth)
{
    kv::CookieKeepList = L"zeta.example/\r\nKEEP.example/\r\n\r\nkeep.EXAMPLE/\r\n";
    TCookiesManagerForm form;
    EXPECT_EQ(Rows(*form.CookiesSavedListBox), (std::vector<std::wstring>{L"KEEP.example/", L"zeta.example/"}));
    // keep.example/ is kept in another letter case; alpha.example/ has two cookies.
    EXPECT_EQ(Rows(*form.CookiesDeletedListBox),
              (std::vector<std::wstring>{L"alpha.example/", L"Beta.example/", L"delta.example/", L"gamma.example/",
                                         kv::AnsiToWide(kLongDomain)}));
    EXPECT_EQ(form.CookiesDeletedListBox->ItemHeight(), 15);
    EXPECT_EQ(kvtest::TextOf(*form.labDontSave), L"Cookies will be deleted:");
    EXPECT_EQ(kvtest::TextOf(*form.labDoSave), L"Cookies will not be deleted:");
    EXPECT_EQ(kvtest::TextOf(*form.btnOK), L"&Save");
    EXPECT_EQ(kvtest::TextOf(*form.btnCancel), L"&Cancel");
    EXPECT_EQ(form.SaveCookieButton->Hint(), L"Do Save");
    EXPECT_EQ(form.DeleteCookieButton->Hint(), L"Don't Save");
    EXPECT_EQ(form.SaveButton->Hint(), L"Save Setting");
    EXPECT_EQ(form.CancelButton->Hint(), L"Cancel");
    EXPECT_EQ(form.imgAddCookie->Hint(), L"Add a cookie name which you do not want to delete");
    EXPECT_EQ(form.Font().name, kv::forms::ScreenHintFontName());
}

TEST_F(CookiesManagerTest, AMissingOrCorruptIndexLeavesTheDeleteListEmpty)
{
    kv::CookieKeepList = L"keep.example/\r\n";
    const std::pair<const char*, std::string> cases[] = {
        {"missing", std::string()},
        {"garbage", std::string("URL \xFF\xFF\xFF\x7F", 8) + std::string(300, '\x01')},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        ::DeleteFileW((kv::IECookiesFolder + L"index.dat").c_str());
        if (!bytes.empty()) kvtest::WriteBytes(kv::IECookiesFolder + L"index.dat", bytes);
        TCookiesManagerForm form;
        EXPECT_EQ(form.CookiesDeletedListBox->Count(), 0);
        EXPECT_EQ(Rows(*form.CookiesSavedListBox), (std::vector<std::wstring>{L"keep.example/"}));
    }
}

TEST_F(CookiesManagerTest, TheMoveButtonsFollowTheSelection)
{
    kv::CookieKeepList = L"keep.example/\r\n";
    TCookiesManagerForm form;
    form.Show();
    kvtest::Pump(20);
    EXPECT_FALSE(form.SaveCookieButton->Enabled());
    EXPECT_FALSE(form.DeleteCookieButton->Enabled());
    ClickRow(*form.CookiesDeletedListBox, 1);
    EXPECT_TRUE(kvtest::PumpUntil([&] { return form.SaveCookieButton->Enabled(); }));
    EXPECT_FALSE(form.DeleteCookieButton->Enabled());
    ClickRow(*form.CookiesSavedListBox, 0);
    EXPECT_TRUE(kvtest::PumpUntil([&] { return form.DeleteCookieButton->Enabled(); }));
    // A disabled move button does nothing when clicked.
    CtrlClickRow(*form.CookiesDeletedListBox, 1);
    EXPECT_TRUE(kvtest::PumpUntil([&] { return !form.SaveCookieButton->Enabled(); }));
    kvtest::Click(*form.SaveCookieButton);
    EXPECT_EQ(form.CookiesDeletedListBox->Count(), 5);
}

TEST_F(CookiesManagerTest, ThreeSelectedNamesMoveEachExactlyOnceAndBack)
{
    kv::CookieKeepList = L"keep.example/\r\n";
    TCookiesManagerForm form;
    form.Show();
    SelectByName(*form.CookiesDeletedListBox, {L"gamma.example/", L"alpha.example/", L"delta.example/"});
    ASSERT_EQ(form.CookiesDeletedListBox->SelCount(), 3);
    ASSERT_TRUE(kvtest::PumpUntil([&] { return form.SaveCookieButton->Enabled(); }));
    kvtest::Click(*form.SaveCookieButton);

    EXPECT_EQ(Rows(*form.CookiesSavedListBox), (std::vector<std::wstring>{L"alpha.example/", L"delta.example/",
                                                                            L"gamma.example/", L"keep.example/"}));
    EXPECT_EQ(Rows(*form.CookiesDeletedListBox),
              (std::vector<std::wstring>{L"Beta.example/", kv::AnsiToWide(kLongDomain)}));
    EXPECT_TRUE(kvtest::PumpUntil([&] { return !form.SaveCookieButton->Enabled(); }));

    SelectByName(*form.CookiesSavedListBox, {L"keep.example/", L"alpha.example/"});
    ASSERT_TRUE(kvtest::PumpUntil([&] { return form.DeleteCookieButton->Enabled(); }));
    kvtest::Click(*form.DeleteCookieButton);
    EXPECT_EQ(Rows(*form.CookiesSavedListBox), (std::vector<std::wstring>{L"delta.example/", L"gamma.example/"}));
    EXPECT_EQ(Rows(*form.CookiesDeletedListBox),
              (std::vector<std::wstring>{L"alpha.example/", L"Beta.example/", L"keep.example/",
                                         kv::AnsiToWide(kLongDomain)}));
}

TEST_F(CookiesManagerTest, TheAddPanelAddsANewNameOnlyOnce)
{
    kv::CookieKeepList = L"keep.example/\r\n";
    TCookiesManagerForm form;
    form.Show();
    EXPECT_FALSE(form.palAddCookie->Visible());
    kvtest::Click(*form.imgAddCookie);
    ASSERT_TRUE(form.palAddCookie->Visible());
    // It lies over the keep list, where the user can see and reach it.
    POINT inside{form.palAddCookie->Left() + 4, form.palAddCookie->Top() + 4};
    EXPECT_EQ(::ChildWindowFromPointEx(form.Handle(), inside, CWP_SKIPINVISIBLE), form.palAddCookie->Handle());
    EXPECT_FALSE(form.imgAddCookie->Enabled());
    EXPECT_FALSE(kvtest::IsShownEnabled(*form.btnOK));
    EXPECT_TRUE(form.edtCookieName->Focused());
    EXPECT_EQ(kvtest::TextOf(*form.edtCookieName), L"");

    // Already kept, in another letter case: OK stays disabled.
    kvtest::TypeText(*form.edtCookieName, L"KEEP.Example/");
    EXPECT_FALSE(kvtest::IsShownEnabled(*form.btnOK));
    form.edtCookieName->SetText(L"");
    EXPECT_FALSE(kvtest::IsShownEnabled(*form.btnOK));
    kvtest::TypeText(*form.edtCookieName, L"new.example/");
    EXPECT_TRUE(kvtest::IsShownEnabled(*form.btnOK));
    kvtest::Click(*form.btnOK);
    EXPECT_FALSE(form.palAddCookie->Visible());
    EXPECT_TRUE(form.imgAddCookie->Enabled());
    EXPECT_EQ(Rows(*form.CookiesSavedListBox), (std::vector<std::wstring>{L"keep.example/", L"new.example/"}));

    // A typed name that waits in the delete list leaves it for the keep list.
    kvtest::Click(*form.imgAddCookie);
    kvtest::TypeText(*form.edtCookieName, L"Beta.example/");
    kvtest::PressKey(*form.edtCookieName, VK_RETURN); // OK is the default button
    kvtest::Pump(20);
    EXPECT_FALSE(form.palAddCookie->Visible());
    EXPECT_EQ(form.CookiesSavedListBox->IndexOf(L"Beta.example/"), 0);
    EXPECT_EQ(form.CookiesDeletedListBox->IndexOf(L"Beta.example/"), -1);

    // Cancel, or Esc, adds nothing; Enter with OK disabled neither.
    kvtest::Click(*form.imgAddCookie);
    kvtest::PressKey(*form.edtCookieName, VK_RETURN);
    EXPECT_TRUE(form.palAddCookie->Visible());
    kvtest::TypeText(*form.edtCookieName, L"other.example/");
    kvtest::Click(*form.btnCancel);
    EXPECT_FALSE(form.palAddCookie->Visible());
    EXPECT_TRUE(form.imgAddCookie->Enabled());
    kvtest::Click(*form.imgAddCookie);
    kvtest::TypeText(*form.edtCookieName, L"third.example/");
    kvtest::PressKey(*form.edtCookieName, VK_ESCAPE);
    EXPECT_FALSE(form.palAddCookie->Visible());
    EXPECT_TRUE(form.Visible()) << "Esc closes the panel first";
    EXPECT_EQ(form.CookiesSavedListBox->IndexOf(L"other.example/"), -1);
    EXPECT_EQ(form.CookiesSavedListBox->IndexOf(L"third.example/"), -1);
}

TEST_F(CookiesManagerTest, SelectedRowsShowTheirRampAndOthersStayWhite)
{
    const COLORREF white = RGB(255, 255, 255);
    EXPECT_EQ(TCookiesManagerForm::RampColor(RGB(204, 255, 0), white, 0), RGB(204, 255, 1));
    EXPECT_EQ(TCookiesManagerForm::RampColor(RGB(204, 255, 0), white, 91), RGB(229, 255, 127));
    EXPECT_EQ(TCookiesManagerForm::RampColor(RGB(255, 204, 0), white, 183), white);

    kv::CookieKeepList = L"keep.example/\r\nzeta.example/\r\n";
    TCookiesManagerForm form;
    form.Show();
    ClickRow(*form.CookiesSavedListBox, 1);
    ClickRow(*form.CookiesDeletedListBox, 2);
    for (const auto& [list, from] : {std::pair{form.CookiesSavedListBox, TCookiesManagerForm::kKeepRampStart},
                                     std::pair{form.CookiesDeletedListBox, TCookiesManagerForm::kDeleteRampStart}}) {
        // Left of the icon, and the end of the row, of the selected row and the one above it.
        const RECT selected = list->ItemRect(list == form.CookiesSavedListBox ? 1 : 2);
        for (int x : {0, 1, 170}) {
            EXPECT_EQ(kvtest::ShownPixel(*list, POINT{x, selected.top + 1}), TCookiesManagerForm::RampColor(from, white, x));
            EXPECT_EQ(kvtest::ShownPixel(*list, POINT{x, selected.bottom - 1}), TCookiesManagerForm::RampColor(from, white, x));
            EXPECT_EQ(kvtest::ShownPixel(*list, POINT{x, selected.top - 2}), white);
        }
    }
}

TEST_F(CookiesManagerTest, ANameTooLongForItsListShowsBelow)
{
    TCookiesManagerForm form;
    form.Show();
    const kv::forms::ListBox& list = *form.CookiesDeletedListBox;
    const int longRow = list.IndexOf(kv::AnsiToWide(kLongDomain));
    ASSERT_EQ(longRow, list.Count() - 1);
    kvtest::MoveMouseTo(list, RowCentre(list, 1));
    EXPECT_EQ(form.LastHoverIndex, 1);
    EXPECT_EQ(kvtest::TextOf(*form.CookieNameLabel), L"");
    // Below the last row: the nearest row, the last one, whose name is too long.
    kvtest::MoveMouseTo(list, POINT{20, list.Height() - 3});
    EXPECT_EQ(form.LastHoverIndex, longRow);
    EXPECT_EQ(kvtest::TextOf(*form.CookieNameLabel), kv::AnsiToWide(kLongDomain));
    kvtest::MoveMouseTo(list, RowCentre(list, 0));
    EXPECT_EQ(kvtest::TextOf(*form.CookieNameLabel), L"");
    // The same row number in the other list is another row.
    form.CookiesSavedListBox->AddItem(kv::AnsiToWide(kLongDomain));
    kvtest::MoveMouseTo(*form.CookiesSavedListBox, RowCentre(*form.CookiesSavedListBox, 0));
    EXPECT_EQ(kvtest::TextOf(*form.CookieNameLabel), kv::AnsiToWide(kLongDomain));
}

TEST_F(CookiesManagerTest, SaveStoresTheSortedKeepListAndCancelChangesNothing)
{
    kv::CookieKeepList = L"keep.example/\r\n";
    EXPECT_FALSE(RunManager([](TCookiesManagerForm& form) {
        SelectByName(*form.CookiesDeletedListBox, {L"gamma.example/", L"Beta.example/"});
        kvtest::PumpUntil([&] { return form.SaveCookieButton->Enabled(); });
        kvtest::Click(*form.SaveCookieButton);
        EXPECT_EQ(form.CookiesSavedListBox->Count(), 3);
        kvtest::Click(*form.CancelButton);
    }));
    EXPECT_EQ(kv::CookieKeepList, L"keep.example/\r\n");

    EXPECT_FALSE(RunManager([](TCookiesManagerForm& form) {
        SelectByName(*form.CookiesDeletedListBox, {L"gamma.example/"});
        kvtest::PumpUntil([&] { return form.SaveCookieButton->Enabled(); });
        kvtest::Click(*form.SaveCookieButton);
        kvtest::Click(*form.ExitImage); // the close picture cancels too
    }));
    EXPECT_EQ(kv::CookieKeepList, L"keep.example/\r\n");

    EXPECT_FALSE(RunManager([](TCookiesManagerForm& form) {
        SelectByName(*form.CookiesDeletedListBox, {L"delta.example/"});
        kvtest::PumpUntil([&] { return form.SaveCookieButton->Enabled(); });
        kvtest::Click(*form.SaveCookieButton);
        kvtest::PressKey(*form.CookiesSavedListBox, VK_ESCAPE); // and so does Esc
    }));
    EXPECT_EQ(kv::CookieKeepList, L"keep.example/\r\n");

    EXPECT_TRUE(RunManager([](TCookiesManagerForm& form) {
        SelectByName(*form.CookiesDeletedListBox, {L"gamma.example/", L"Beta.example/"});
        kvtest::PumpUntil([&] { return form.SaveCookieButton->Enabled(); });
        kvtest::Click(*form.SaveCookieButton);
        kvtest::Click(*form.SaveButton);
    }));
    EXPECT_EQ(kv::CookieKeepList, L"Beta.example/\r\ngamma.example/\r\nkeep.example/\r\n");
}

TEST_F(CookiesManagerTest, ASecondOpeningInOneRunShowsTheFirstOnesChoice)
{
    // Nothing stored yet: the first run of the program, before its first exit.
    ASSERT_FALSE(kv::RegistryValueExists(kv::SettingsRoot, L"\\Filters", L"Cookies"));
    ASSERT_TRUE(RunManager([](TCookiesManagerForm& form) {
        SelectByName(*form.CookiesDeletedListBox, {L"alpha.example/"});
        kvtest::PumpUntil([&] { return form.SaveCookieButton->Enabled(); });
        kvtest::Click(*form.SaveCookieButton);
        kvtest::Click(*form.SaveButton);
    }));
    ASSERT_TRUE(RunManager([](TCookiesManagerForm& form) {
        EXPECT_EQ(Rows(*form.CookiesSavedListBox), (std::vector<std::wstring>{L"alpha.example/"}));
        EXPECT_EQ(form.CookiesDeletedListBox->IndexOf(L"alpha.example/"), -1);
        SelectByName(*form.CookiesDeletedListBox, {L"delta.example/"});
        kvtest::PumpUntil([&] { return form.SaveCookieButton->Enabled(); });
        kvtest::Click(*form.SaveCookieButton);
        kvtest::Click(*form.SaveButton);
    }));
    EXPECT_EQ(kv::CookieKeepList, L"alpha.example/\r\ndelta.example/\r\n");
}

TEST_F(CookiesManagerTest, TheCleanKeepsExactlyTheChosenCookies)
{
    kv::TSettings settings = kv::LoadSettings();
    ASSERT_TRUE(RunManager([](TCookiesManagerForm& form) {
        SelectByName(*form.CookiesDeletedListBox, {L"alpha.example/", L"Beta.example/"});
        kvtest::PumpUntil([&] { return form.SaveCookieButton->Enabled(); });
        kvtest::Click(*form.SaveCookieButton);
        kvtest::Click(*form.SaveButton);
    }));
    kv::SaveSettings(settings);

    // A restart: the keep list comes back from the registry alone.
    kv::CookieKeepList = L"stale.example/\r\n";
    kv::TSettings reloaded = kv::LoadSettings();
    EXPECT_EQ(kv::CookieKeepList, L"alpha.example/\r\nBeta.example/\r\n");

    kv::CleanTarget(kv::ctCookies, kv::TCleanRequest{});
    std::set<std::wstring> left;
    for (const wchar_t* file : {L"ALPHA.txt", L"ALPHA2.txt", L"BETA.txt", L"GAMMA.txt", L"KEEP.txt",
                                     L"DELTA.txt", L"LONG.txt"})
        if (kvtest::PathExists(kv::IECookiesFolder + file)) left.insert(file);
    EXPECT_EQ(left, (std::set<std::wstring>{L"ALPHA.txt", L"ALPHA2.txt", L"BETA.txt"}));
    EXPECT_TRUE(kvtest::PathExists(root_ + L"OUTSIDE.txt"));

    // What the manager shows afterwards: the kept names, and nothing left to delete.
    TCookiesManagerForm form;
    EXPECT_EQ(Rows(*form.CookiesSavedListBox), (std::vector<std::wstring>{L"alpha.example/", L"Beta.example/"}));
    EXPECT_EQ(form.CookiesDeletedListBox->Count(), 0);
}

// ---- The real cookie store of the test prefix, written and read by WinInet
// in other processes; the clean runs in a fresh process of its own.

int Probe(const std::wstring& arguments) { return kvtest::RunProcess(L"\"" + kvtest::ProbePath() + L"\" " + arguments); }

TEST_F(CookiesManagerTest, ChoicesSurviveARestartAndTheNextRunCleansTheRest)
{
    kv::IECookiesFolder = kv::GetShellFolder(L"Cookies") + L"\\";
    ASSERT_GT(kv::IECookiesFolder.size(), 3u);
    // A fresh store: WinInet makes a new index.
    ::DeleteFileW((kv::IECookiesFolder + L"index.dat").c_str());
    const wchar_t* sites[] = {L"http://keep.cm.kvtest.example/", L"http://also.cm.kvtest.example/",
                              L"http://drop.cm.kvtest.example/", L"http://gone.cm.kvtest.example/"};
    for (const wchar_t* site : sites) ASSERT_EQ(Probe(kv::Format(L"set-cookie %s c 1", {site})), 0);

    kv::TSettings settings = kv::LoadSettings(); // the program's start-up
    ASSERT_TRUE(RunManager([](TCookiesManagerForm& form) {
        SelectByName(*form.CookiesDeletedListBox, {L"keep.cm.kvtest.example/", L"also.cm.kvtest.example/"});
        kvtest::PumpUntil([&] { return form.SaveCookieButton->Enabled(); });
        kvtest::Click(*form.SaveCookieButton);
        kvtest::Click(*form.SaveButton);
    }));
    kv::SaveSettings(settings); // the program's exit

    // The next run, in this process: the manager shows the stored choice.
    kv::CookieKeepList.clear();
    settings = kv::LoadSettings();
    EXPECT_FALSE(RunManager([](TCookiesManagerForm& form) {
        EXPECT_EQ(Rows(*form.CookiesSavedListBox),
                  (std::vector<std::wstring>{L"also.cm.kvtest.example/", L"keep.cm.kvtest.example/"}));
        EXPECT_GE(form.CookiesDeletedListBox->IndexOf(L"drop.cm.kvtest.example/"), 0);
        EXPECT_EQ(form.CookiesDeletedListBox->IndexOf(L"keep.cm.kvtest.example/"), -1);
        kvtest::Click(*form.CancelButton);
    }));

    // The next run as a process of its own cleans the cookie row.
    ASSERT_EQ(Probe(L"clean-cookies " + std::wstring(kTestRoot)), 0);
    EXPECT_EQ(Probe(L"has-cookie http://keep.cm.kvtest.example/ c"), 0);
    EXPECT_EQ(Probe(L"has-cookie http://also.cm.kvtest.example/ c"), 0);
    EXPECT_EQ(Probe(L"has-cookie http://drop.cm.kvtest.example/ c"), 1);
    EXPECT_EQ(Probe(L"has-cookie http://gone.cm.kvtest.example/ c"), 1);
}

} // namespace
