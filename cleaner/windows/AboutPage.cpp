#include "cleaner/windows/AboutPage.h"

namespace kv {
namespace {

// The rows' captions come from the language table; these are their details.
const wchar_t* const kDetails[TAboutPage::rowCount] = {
    L"Orbelune Software",
    L"Kestrelvane",
    L"",
    L"Jan. 1st, 2013",
    L"Windows 8/7/Vista/XP/2008/2003/2000",
    TMainForm::HomePageAddress,
    TMainForm::SupportAddress,
};

} // namespace

TAboutPage::TAboutPage(TMainForm& mainForm, forms::Panel& host) : TMainFormPage(mainForm, host)
{
    AppInfoListView = &AddPageList(idAppInfoListView, L"AppInfoListView", false);
    AppInfoListView->AddColumn(L"Application Info", 150);
    AppInfoListView->AddColumn(L"Details", 320);
    for (const wchar_t* details : kDetails) AppInfoListView->AddItem(L"", {details});
}

void TAboutPage::Enter()
{
    AppInfoListView->Show();
    MainForm.SetControlButtons(false, false, false, false, false, false, false);
    MainForm.IndexLabel->SetText(MainForm.AboutButton->Hint());
}

void TAboutPage::SetProgramVersion(const std::wstring& version)
{
    AppInfoListView->SetSubItem(rowVersion, 0, version);
}

} // namespace kv
