#include "crashreport/output/EWebTools.h"

#include <ntsecapi.h>
#include <shellapi.h>

#include <atomic>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EErrors.h"
#include "crashreport/core/ESystem.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace kv::crashreport {

const char* const WebErrorPageOkButton =
    "<br><input type=button value=\"Ok\" OnClick=\"history.go(-1)\" "
    "style=\"width:75;height:25;z-index:100;font-style:normal;font-size:10pt;text-decoration:none;\">";

namespace {

constexpr std::size_t MaxWinCGIIniSize = 102400;
constexpr std::string_view HtmlTag = "<%HTML_TAG%>";

struct WebState {
    std::string WinCGIOutputFile;
    std::string WebErrorPageID;
    std::atomic<ServerECBProvider> ECBProvider{nullptr};
    std::atomic<bool> WritingPage{false};
};

WebState& State()
{
    static WebState state;
    return state;
}

const IMAGE_NT_HEADERS* NtHeadersOf(HMODULE module)
{
    const auto* base = reinterpret_cast<const std::uint8_t*>(module);
    if (base == nullptr || !IsReadableMemory(base, sizeof(IMAGE_DOS_HEADER))) return nullptr;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0) return nullptr;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (!IsReadableMemory(nt, sizeof *nt) || nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
    return nt;
}

// The module list unit's ModuleIsDLL takes this place once it is linked in.
bool ModuleIsLibrary(HMODULE module)
{
    const IMAGE_NT_HEADERS* nt = NtHeadersOf(module);
    return nt != nullptr && (nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0;
}

std::vector<std::string> CommandLineArguments()
{
    std::vector<std::string> arguments;
    int count = 0;
    const LocalMemory<LPWSTR> list(::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!list) return arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(WideToAnsi(list.Get()[i]));
    return arguments;
}

// The whole file when it opens for reading and holds at most `limit` bytes.
bool ReadSmallFile(const std::string& fileName, std::size_t limit, std::string& bytes)
{
    FileHandle file(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > limit) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        return false;
    }
    return true;
}

std::uint32_t RandomNumber()
{
    std::uint32_t value = 0;
    if (!RtlGenRandom(&value, sizeof value)) {
        // The identifier only tells pages apart; the time and the counter suffice then.
        static std::atomic<std::uint32_t> counter{0};
        value = ::GetTickCount() ^ (++counter * 0x9E3779B9u) ^ ::GetCurrentProcessId();
    }
    return value;
}

std::size_t FindNoCase(std::string_view text, std::string_view sub)
{
    return UpperCaseText(text).find(UpperCaseText(sub));
}

const TOspreyModuleOptions* Options() { return CurrentOspreyLogOptions(); }

std::string ResponseHeader(bool withStatus, std::size_t pageLength)
{
    std::string header;
    if (withStatus) header = "Status: 200 Error\r\n";
    header += "Content-Type: text/html\r\n";
    header += Format("Content-Length: %d\r\n", {static_cast<std::uint32_t>(pageLength)});
    header += "Content:\r\n\r\n";
    return header;
}

bool WriteAll(HANDLE file, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

bool WriteISAPIResponse(std::string_view page)
{
    const ServerECBProvider provider = State().ECBProvider.load();
    EXTENSION_CONTROL_BLOCK* ecb = provider != nullptr ? provider() : nullptr;
    if (ecb == nullptr) {
        OutputWarning(eeNone, "ISAPI: ServerECB = nil");
        return false;
    }
    struct WritingFlag {
        WritingFlag() { State().WritingPage = true; }
        ~WritingFlag() { State().WritingPage = false; }
    } writing;
    ecb->dwHttpStatusCode = 200;
    std::string status = "200 Error";
    std::string header = ResponseHeader(false, page.size());
    const BOOL headerSent = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, status.data(),
                                                       nullptr, reinterpret_cast<LPDWORD>(header.data()));
    DWORD length = static_cast<DWORD>(page.size());
    std::string body(page);
    const BOOL pageSent = ecb->WriteClient(ecb->ConnID, body.data(), &length, 0);
    return headerSent && pageSent;
}

bool WriteCGIResponse(std::string_view page)
{
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE || !WriteAll(output, ResponseHeader(true, page.size()))) {
        OutputWarning(eeNone, "CGI: Cannot write in the ouput file.");
        return false;
    }
    return WriteAll(output, page);
}

bool WriteWinCGIResponse(std::string_view page)
{
    try {
        const std::string& name = State().WinCGIOutputFile;
        FileHandle file(::CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) throw Exception(L"Cannot open the output file.");
        // A longer earlier content would otherwise trail the page.
        if (!WriteAll(file.Get(), ResponseHeader(true, page.size())) || !WriteAll(file.Get(), page) ||
            !::SetEndOfFile(file.Get())) {
            throw Exception(L"Cannot write the output file.");
        }
        return true;
    } catch (...) {
        OutputSectionError(eeNone, "WinCGI");
        return false;
    }
}

} // namespace

bool IsConsoleApplication()
{
    const IMAGE_NT_HEADERS* nt = NtHeadersOf(::GetModuleHandleW(nullptr));
    return nt != nullptr && nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

bool IsCGIApplication()
{
    return IsConsoleApplication() && ::GetEnvironmentVariableA("REQUEST_METHOD", nullptr, 0) > 0;
}

bool DetectWinCGIRequest(const std::vector<std::string>& arguments)
{
    std::string& outputFile = State().WinCGIOutputFile;
    if (arguments.size() < 2) return false;
    const std::string& iniName = arguments[1];
    if (iniName.empty() || iniName.find_first_of("*?") != std::string::npos) return false;
    std::string bytes;
    if (!ReadSmallFile(iniName, MaxWinCGIIniSize, bytes)) return false;
    const IniFile ini(AnsiToWide(bytes));
    if (ini.ReadString(L"CGI", L"Request Method", L"").empty()) return false;
    outputFile = arguments.size() > 3 ? arguments[3] : std::string();
    if (outputFile.empty()) outputFile = WideToAnsi(ini.ReadString(L"System", L"Output File", L""));
    return !outputFile.empty() && FileExists(outputFile);
}

bool IsWinCGIApplication()
{
    if (IsConsoleApplication()) return false;
    return DetectWinCGIRequest(CommandLineArguments());
}

const std::string& WinCGIOutputFile() { return State().WinCGIOutputFile; }

bool IsISAPIApplication()
{
    const HMODULE module = OwnModuleHandle();
    return ModuleIsLibrary(module) && ::GetProcAddress(module, "HttpExtensionProc") != nullptr;
}

bool IsIntraWebApplication() { return false; }

TWebApplicationKind CurrentWebApplicationKind()
{
    if (IsISAPIApplication()) return TWebApplicationKind::ISAPI;
    if (IsCGIApplication()) return TWebApplicationKind::CGI;
    if (IsWinCGIApplication()) return TWebApplicationKind::WinCGI;
    if (IsIntraWebApplication()) return TWebApplicationKind::IntraWeb;
    return TWebApplicationKind::None;
}

bool IsWebApplication() { return CurrentWebApplicationKind() != TWebApplicationKind::None; }

bool IsGUIApplication() { return !IsWebApplication() && !IsConsoleApplication(); }

void SetServerECBProvider(ServerECBProvider provider) noexcept { State().ECBProvider = provider; }

bool WritingWebErrorPage() noexcept { return State().WritingPage; }

const std::string& WebErrorPageID() { return State().WebErrorPageID; }

std::string BuildHtmlErrorPage(std::string_view body)
{
    const TOspreyModuleOptions* options = Options();
    std::string layout = options != nullptr ? options->HTMLLayout() : std::string();
    if (TrimText(CollapseControlChars(layout)).empty()) layout = DefaultHTMLLayout;
    const std::size_t tag = FindNoCase(layout, HtmlTag);
    if (tag != std::string::npos) layout.replace(tag, HtmlTag.size(), HtmlTag);
    const std::size_t open = FindNoCase(layout, "<title>");
    const std::size_t close = FindNoCase(layout, "</title>");
    if (open == std::string::npos || (close != std::string::npos && close < open)) {
        const std::string caption =
            options != nullptr ? options->GetExpandedText(mtDialog_Caption) : DefaultMessageText(mtDialog_Caption);
        layout.insert(0, Format("<title>%s</title>", {caption}));
    }
    State().WebErrorPageID = Format("<!-- OspreyLog ID: %.8X -->", {RandomNumber()});
    return ReplaceAllText(layout, HtmlTag, body) + State().WebErrorPageID;
}

std::string BuildErrorPage(std::string_view text, bool withOkButton)
{
    std::string body = HtmlEscape(text);
    if (withOkButton) body += WebErrorPageOkButton;
    return BuildHtmlErrorPage(body);
}

bool WriteWebErrorResponse(TWebApplicationKind kind, std::string_view page)
{
    switch (kind) {
    case TWebApplicationKind::ISAPI: return WriteISAPIResponse(page);
    case TWebApplicationKind::CGI: return WriteCGIResponse(page);
    case TWebApplicationKind::WinCGI: return WriteWinCGIResponse(page);
    default: return true;
    }
}

bool WriteWebErrorResponse(std::string_view page) { return WriteWebErrorResponse(CurrentWebApplicationKind(), page); }

bool ShowIntraWebErrorPage()
{
    OutputWarning(eeNone, "IntraWeb: IntraWebApplication e/o IntraWebServerController are set to nil.");
    return false;
}

bool WriteTextFile(std::string_view text, const std::string& fileName)
{
    std::string folder = fileName.substr(0, fileName.find_last_of('\\') == std::string::npos
                                                ? 0
                                                : fileName.find_last_of('\\'));
    if (!folder.empty() && ::GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES &&
        !::CreateDirectoryA(folder.c_str(), nullptr)) {
        return false;
    }
    FileHandle file(::CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file.IsValid()) return false;
    return WriteAll(file.Get(), text);
}

} // namespace kv::crashreport
