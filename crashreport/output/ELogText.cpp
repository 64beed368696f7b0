#include "crashreport/output/ELogText.h"

#include "crashreport/core/ECommon.h"
#include "crashreport/output/EReportState.h"
#include "crashreport/output/EWebTools.h"

namespace kv::crashreport {

void OutputWebErrorPage(std::string_view message)
{
    TReportState& report = CurrentReport();
    const std::string text = report.DialogErrorText + std::string(message);
    if (IsIntraWebApplication()) {
        report.WebResponseWritten = ShowIntraWebErrorPage();
        return;
    }
    if (!IsWebApplication()) return;
    std::string page = BuildHtmlErrorPage(text);
    if (UpperCaseText(page).find(UpperCaseText(WebErrorPageOkButton)) == std::string::npos) {
        page += WebErrorPageOkButton;
    }
    report.WebResponseWritten = WriteWebErrorResponse(page);
}

} // namespace kv::crashreport
