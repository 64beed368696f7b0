#pragma once
// What kind of program carries the reporter, and the error page a web-server
// program answers the pending request with (CGI and WinCGI through their
// output, ISAPI through the server's extension control block).
//
// The component web framework whose server controller would make a program an
// "IntraWeb" application is not part of this program: that kind is never
// detected, and its page writer only reports that it has nothing to write to.
#include <windows.h>
#include <httpext.h>

#include <string>
#include <string_view>
#include <vector>

namespace kv::crashreport {

bool IsConsoleApplication();
bool IsCGIApplication();
bool IsWinCGIApplication();
bool IsISAPIApplication();
bool IsIntraWebApplication();
bool IsWebApplication();
bool IsGUIApplication();

enum class TWebApplicationKind { None, ISAPI, CGI, WinCGI, IntraWeb };
// The kinds tested in the order ISAPI, CGI, WinCGI, IntraWeb.
TWebApplicationKind CurrentWebApplicationKind();

// The WinCGI test on given command-line arguments (the program name first):
// the first argument names a readable INI file of at most 102400 bytes whose
// "Request Method" of section "CGI" is set; the output file (kept for the
// response) is the third argument or the INI's "Output File" of section
// "System", and must exist.
bool DetectWinCGIRequest(const std::vector<std::string>& arguments);
// The output file found by the last WinCGI test.
const std::string& WinCGIOutputFile();

// The extension control block of the request being served, kept by the
// capture hooks of an ISAPI module.
using ServerECBProvider = EXTENSION_CONTROL_BLOCK* (*)();
void SetServerECBProvider(ServerECBProvider provider) noexcept;
// True while the error page is written to an ISAPI client.
bool WritingWebErrorPage() noexcept;

// The last page's identification comment "<!-- OspreyLog ID: XXXXXXXX -->".
const std::string& WebErrorPageID();
std::string BuildHtmlErrorPage(std::string_view body);
std::string BuildErrorPage(std::string_view text, bool withOkButton);
// The "Ok" button that takes the visitor back a page.
extern const char* const WebErrorPageOkButton;

// Writes the page for the program's web kind; false on failure (also reported
// as the reporter's warning). Nothing is written for a program of no web kind.
bool WriteWebErrorResponse(std::string_view page);
bool WriteWebErrorResponse(TWebApplicationKind kind, std::string_view page);
bool ShowIntraWebErrorPage();

// Creates the file's folder (one level) and the file; true when every byte was written.
bool WriteTextFile(std::string_view text, const std::string& fileName);

// Code offsets in debug data count from the first section, a page above the module's base.
inline const void* CodeOffsetToAddress(HMODULE module, std::uint32_t offset)
{
    return reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(module) + 4096 + offset);
}

} // namespace kv::crashreport
