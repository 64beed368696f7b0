#pragma once
// The About page of the main window: the program's facts in a two-column list.
#include <string>

#include "cleaner/windows/MainUnit.h"
#include "platform/forms/Controls.h"

namespace kv {

class TAboutPage : public TMainFormPage {
public:
    enum ControlId : int { idAppInfoListView = PageControlIds(pgAbout) };
    enum Row : int { rowDeveloper, rowProduct, rowVersion, rowReleased, rowSystem, rowWebsite, rowEmail, rowCount };

    TAboutPage(TMainForm& mainForm, forms::Panel& host);

    forms::ListView* AppInfoListView;

    forms::WinControl* PageList() override { return AppInfoListView; }
    void Enter() override;
    void SetProgramVersion(const std::wstring& version);
};

} // namespace kv
