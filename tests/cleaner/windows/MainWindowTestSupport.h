#pragma once
// A main window made fresh for each test, on empty settings under the current
// key, with the program folder in a scratch folder (the exit writes its
// export there).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/FiltersPage.h"
#include "cleaner/windows/IconIndexes.h"
#include "cleaner/windows/LangDataUnit.h"
#include "cleaner/windows/MainUnit.h"
#include "cleaner/windows/PathPage.h"
#include "common/FormDriver.h"
#include "common/TestSupport.h"
#include "platform/Registry.h"

namespace kvtest {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartApplication();
        kv::LoadDefaultLanguage();
        savedProgramFolder_ = kv::ProgramFolder;
        savedRoot_ = kv::SettingsRoot;
        kv::ProgramFolder = ScratchFolder(L"MainWindowProgram");
        kv::SettingsRoot = kv::CurrentSettingsKey;
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, kv::LegacySettingsKey);
        kv::JobMode = false;
        kv::RunHiddenly = false;
        kv::PendingImport.clear();
        kv::LanguageFile.clear();
        kv::StopRequested = 1;
        kv::AppClosing = 0;
        kv::CurrentPage = kv::pgAbout;
    }

    void TearDown() override
    {
        form.reset();
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, kv::LegacySettingsKey);
        kv::ProgramFolder = savedProgramFolder_;
        kv::SettingsRoot = savedRoot_;
        kv::JobMode = false;
        kv::RunHiddenly = false;
        kv::PendingImport.clear();
        kv::StopRequested = 1;
        kv::AppClosing = 0;
    }

    // A new start: the window as the program makes it, shown and activated.
    kv::TMainForm& Open()
    {
        form = std::make_unique<kv::TMainForm>();
        form->Show();
        Pump(50);
        return *form;
    }
    // Closing and ending the window: its exit work runs (settings saved).
    void CloseAndEnd()
    {
        form->Close();
        form.reset();
        kv::SettingsRoot = kv::CurrentSettingsKey;
    }

    kv::forms::ListView& Paths() const { return *form->PathPage().PathListView; }
    kv::forms::ListView& Filters() const { return *form->FiltersPage().FiltersListView; }

    // What a run changes in the Path and Filters lists, for a later run to
    // find: `folder` added, the second drive and the first filter unchecked.
    // Returns the first filter's mask.
    std::wstring ChangePathsAndFilters(const std::wstring& folder)
    {
        Paths().AddItem(folder, {}, kv::pkExcludeWithSubFolders, true);
        Paths().SetChecked(1, false);
        Filters().SetChecked(0, false);
        return Filters().SubItem(0, 1);
    }
    void ExpectPathsAndFiltersChanged(const std::wstring& folder, const std::wstring& firstMask)
    {
        const auto rows = ReadRows(Paths());
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(form->DriveCount) + 1);
        EXPECT_FALSE(rows[1].checked);
        EXPECT_EQ(rows.back().caption, folder);
        EXPECT_EQ(rows.back().image, kv::pkExcludeWithSubFolders);
        EXPECT_TRUE(rows.back().checked);
        EXPECT_EQ(Filters().SubItem(0, 1), firstMask);
        EXPECT_FALSE(Filters().Checked(0));
    }

    std::unique_ptr<kv::TMainForm> form;

private:
    std::wstring savedProgramFolder_;
    std::wstring savedRoot_;
};

// The fixed drives of the prefix, as the system reports them.
inline std::vector<std::wstring> FixedDrives()
{
    std::vector<std::wstring> drives;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const std::wstring caption = std::wstring(1, letter) + L":";
        if (::GetDriveTypeW((caption + L"\\").c_str()) == DRIVE_FIXED) drives.push_back(caption);
    }
    return drives;
}

inline std::wstring WithoutTrailingBackslash(std::wstring folder)
{
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

} // namespace kvtest
