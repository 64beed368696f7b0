#include "crashreport/output/EWebTools.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "common/TestSupport.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EErrors.h"
#include "platform/Handles.h"
#include "platform/TextCodec.h"

using namespace kv::crashreport;

namespace {

const std::regex PageIDPattern("<!-- OspreyLog ID: [0-9A-F]{8} -->$");

// ---- Pages

TEST(WebErrorPage, DefaultLayoutGetsTheDialogCaptionAsTitleAndAnIdentifier)
{
    const std::string page = BuildHtmlErrorPage("<b>boom</b>");
    std::string expected = std::string("<title>Error occurred</title>") + DefaultHTMLLayout;
    expected.replace(expected.find("<%HTML_TAG%>"), 12, "<b>boom</b>");
    EXPECT_EQ(page, expected + WebErrorPageID());
    EXPECT_TRUE(std::regex_search(page, PageIDPattern));
}

TEST(WebErrorPage, TwoPagesCarryDifferentIdentifiers)
{
    const std::string first = BuildHtmlErrorPage("x");
    const std::string firstID = WebErrorPageID();
    const std::string second = BuildHtmlErrorPage("x");
    EXPECT_NE(firstID, WebErrorPageID());
    EXPECT_NE(first, second);
}

struct LayoutCase {
    const char* name;
    const char* layout;
    const char* page; // without the identifier
};

const LayoutCase LayoutCases[] = {
    {"OwnTitleInCapitalsIsKept", "<HTML><TITLE>Mine</TITLE><%HTML_TAG%></HTML>",
     "<HTML><TITLE>Mine</TITLE>BODY</HTML>"},
    {"NoTitleGetsTheCaption", "<p><%HTML_TAG%></p>", "<title>Custom caption</title><p>BODY</p>"},
    {"ClosingTitleBeforeOpeningGetsTheCaption", "</title><title><%HTML_TAG%>",
     "<title>Custom caption</title></title><title>BODY"},
    {"TagInAnyCaseIsReplacedOnceRewritten", "<title>t</title><%html_tag%>|<%HTML_TAG%>",
     "<title>t</title>BODY|BODY"},
    {"BlankLayoutFallsBackToTheDefault", " \r\n\t ", nullptr},
};

class LayoutCases_ : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutCases_, BuildsThePage)
{
    TOspreyModuleOptions options("");
    options.SetHTMLLayout(GetParam().layout);
    options.SetCustomizedTexts(mtDialog_Caption, "Custom caption");
    SetCurrentOspreyLogOptions(&options);
    const std::string page = BuildHtmlErrorPage("BODY");
    SetCurrentOspreyLogOptions(nullptr);
    std::string expected;
    if (GetParam().page != nullptr) {
        expected = GetParam().page;
    } else {
        expected = std::string("<title>Custom caption</title>") + DefaultHTMLLayout;
        expected.replace(expected.find("<%HTML_TAG%>"), 12, "BODY");
    }
    EXPECT_EQ(page, expected + WebErrorPageID());
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutCases_, ::testing::ValuesIn(LayoutCases),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

TEST(WebErrorPage, PlainTextIsEscapedAndMayGetTheOkButton)
{
    const std::string page = BuildErrorPage("a  <b>\r\nc", true);
    EXPECT_NE(page.find(std::string("a&nbsp;&nbsp;&lt;b&gt;<br>\r\nc") + WebErrorPageOkButton), std::string::npos);
    EXPECT_EQ(BuildErrorPage("x", false).find("<input"), std::string::npos);
}

// ---- Kinds

TEST(ApplicationKind, ConsoleTestProgramWithoutARequestIsNoWebProgram)
{
    ::SetEnvironmentVariableA("REQUEST_METHOD", nullptr);
    EXPECT_TRUE(IsConsoleApplication());
    EXPECT_FALSE(IsCGIApplication());
    EXPECT_FALSE(IsWinCGIApplication()); // a console program never is
    EXPECT_FALSE(IsISAPIApplication());  // an executable, no HttpExtensionProc
    EXPECT_FALSE(IsIntraWebApplication());
    EXPECT_FALSE(IsWebApplication());
    EXPECT_FALSE(IsGUIApplication());
    EXPECT_EQ(CurrentWebApplicationKind(), TWebApplicationKind::None);
}

TEST(ApplicationKind, RequestMethodMakesAConsoleProgramACGIProgram)
{
    ::SetEnvironmentVariableA("REQUEST_METHOD", "GET");
    EXPECT_TRUE(IsCGIApplication());
    EXPECT_TRUE(IsWebApplication());
    EXPECT_EQ(CurrentWebApplicationKind(), TWebApplicationKind::CGI);
    ::SetEnvironmentVariableA("REQUEST_METHOD", nullptr);
}

// Runs the probe with its standard output on a pipe; its exit code and what it wrote.
struct ProbeRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
};

ProbeRun RunProbeCapturingOutput(const std::wstring& arguments)
{
    ProbeRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    kv::KernelHandle readEnd, writeEnd;
    if (!::CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inherit, 0)) return run;
    ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    startup.hStdInput = nullptr;
    std::wstring commandLine = L"\"" + kvtest::ProbePath() + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return run;
    }
    kv::KernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    writeEnd.Reset(); // the pipe ends when the child's copy goes
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) run.output.append(buffer, got);
    ::WaitForSingleObject(processHandle.Get(), 30000);
    ::GetExitCodeProcess(processHandle.Get(), &run.exitCode);
    return run;
}

TEST(CGIResponse, ProbeStartedForAWebRequestWritesTheErrorPageToItsOutput)
{
    ::SetEnvironmentVariableA("REQUEST_METHOD", "POST");
    const ProbeRun run = RunProbeCapturingOutput(L"web-error \"Disk <full>\"");
    ::SetEnvironmentVariableA("REQUEST_METHOD", nullptr);
    EXPECT_EQ(run.exitCode, 0u);

    // The page: the layout with its title, the text as it came, the identifier
    // (random, read back) and the button behind it.
    std::smatch idInside;
    ASSERT_TRUE(std::regex_search(run.output, idInside, std::regex("<!-- OspreyLog ID: [0-9A-F]{8} -->")))
        << run.output;
    std::string page = std::string("<title>Error occurred</title>") + DefaultHTMLLayout;
    page.replace(page.find("<%HTML_TAG%>"), 12, "Disk <full>");
    page += idInside.str() + WebErrorPageOkButton;
    EXPECT_EQ(run.output, "Status: 200 Error\r\nContent-Type: text/html\r\nContent-Length: " +
                              std::to_string(page.size()) + "\r\nContent:\r\n\r\n" + page);
}

TEST(CGIResponse, ProbeWithoutAWebRequestWritesNothing)
{
    ::SetEnvironmentVariableA("REQUEST_METHOD", nullptr);
    const ProbeRun run = RunProbeCapturingOutput(L"web-error \"Disk full\"");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "");
}

// ---- WinCGI

class WinCGI : public ::testing::Test {
protected:
    void SetUp() override { folder_ = kv::WideToAnsi(kvtest::ScratchFolder(L"wincgi")); }
    std::string Path(const char* name) const { return folder_ + name; }
    void Write(const std::string& path, const std::string& bytes) const
    {
        kvtest::WriteBytes(kv::AnsiToWide(path), bytes);
    }
    // An INI file of exactly `size` bytes naming the output file.
    std::string IniOfSize(std::size_t size, const std::string& output) const
    {
        std::string text = "[CGI]\r\nRequest Method=GET\r\n[System]\r\nOutput File=" + output + "\r\n;";
        text.append(size - text.size(), 'x');
        return text;
    }
    std::string folder_;
};

TEST_F(WinCGI, IniFileOfAtMost102400BytesMakesAWinCGIRequest)
{
    const std::string output = Path("out.htm");
    Write(output, "");
    Write(Path("exact.ini"), IniOfSize(102400, output));
    Write(Path("over.ini"), IniOfSize(102401, output));
    EXPECT_TRUE(DetectWinCGIRequest({"prog.exe", Path("exact.ini")}));
    EXPECT_EQ(WinCGIOutputFile(), output);
    EXPECT_FALSE(DetectWinCGIRequest({"prog.exe", Path("over.ini")}));
}

TEST_F(WinCGI, RequestNeedsAMethodAReadableNameAndAnExistingOutputFile)
{
    const std::string output = Path("out.htm");
    const std::string third = Path("third.htm");
    Write(output, "");
    Write(third, "");
    Write(Path("nomethod.ini"), "[CGI]\r\nRequest Method=\r\n[System]\r\nOutput File=" + output + "\r\n");
    Write(Path("nooutput.ini"), "[CGI]\r\nRequest Method=GET\r\n[System]\r\nOutput File=" + Path("none.htm") + "\r\n");
    Write(Path("ok.ini"), "[CGI]\r\nRequest Method=GET\r\n[System]\r\nOutput File=" + output + "\r\n");
    EXPECT_FALSE(DetectWinCGIRequest({"prog.exe"}));
    EXPECT_FALSE(DetectWinCGIRequest({"prog.exe", Path("nomethod.ini")}));
    EXPECT_FALSE(DetectWinCGIRequest({"prog.exe", Path("nooutput.ini")}));
    EXPECT_FALSE(DetectWinCGIRequest({"prog.exe", Path("missing.ini")}));
    EXPECT_FALSE(DetectWinCGIRequest({"prog.exe", folder_ + "o?.ini"}));
    // The third argument names the output file when it is given.
    EXPECT_TRUE(DetectWinCGIRequest({"prog.exe", Path("ok.ini"), "x", third}));
    EXPECT_EQ(WinCGIOutputFile(), third);
    EXPECT_TRUE(DetectWinCGIRequest({"prog.exe", Path("ok.ini"), "x", ""}));
    EXPECT_EQ(WinCGIOutputFile(), output);
}

TEST_F(WinCGI, ResponseReplacesTheOutputFileFromItsStart)
{
    const std::string output = Path("out.htm");
    Write(output, std::string(500, 'z'));
    Write(Path("ok.ini"), "[CGI]\r\nRequest Method=GET\r\n[System]\r\nOutput File=" + output + "\r\n");
    ASSERT_TRUE(DetectWinCGIRequest({"prog.exe", Path("ok.ini")}));
    EXPECT_TRUE(WriteWebErrorResponse(TWebApplicationKind::WinCGI, "<p>x</p>"));
    EXPECT_EQ(kvtest::ReadBytes(kv::AnsiToWide(output)),
              "Status: 200 Error\r\nContent-Type: text/html\r\nContent-Length: 8\r\nContent:\r\n\r\n<p>x</p>");
}

TEST_F(WinCGI, OutputFileHeldByAnotherIsAWarningAndFalse)
{
    const std::string output = Path("out.htm");
    Write(output, "");
    Write(Path("ok.ini"), "[CGI]\r\nRequest Method=GET\r\n[System]\r\nOutput File=" + output + "\r\n");
    ASSERT_TRUE(DetectWinCGIRequest({"prog.exe", Path("ok.ini")}));
    kv::FileHandle held(::CreateFileA(output.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    ClearLastWarning();
    EXPECT_FALSE(WriteWebErrorResponse(TWebApplicationKind::WinCGI, "<p>x</p>"));
    EXPECT_EQ(LastWarningMessage().rfind("[WinCGI]", 0), 0u) << LastWarningMessage();
}

// ---- ISAPI through a fake extension control block

struct ServerRecord {
    std::vector<DWORD> requests;
    std::string status, headers, body;
    DWORD bodyLength = 0;
    bool writingFlagSeen = true;
    HCONN connection = nullptr;
};
ServerRecord g_server;
EXTENSION_CONTROL_BLOCK g_ecb{};

BOOL WINAPI FakeServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer, LPDWORD, LPDWORD dataType)
{
    g_server.connection = connection;
    g_server.requests.push_back(request);
    g_server.writingFlagSeen = g_server.writingFlagSeen && WritingWebErrorPage();
    if (request == HSE_REQ_SEND_RESPONSE_HEADER) {
        g_server.status = static_cast<const char*>(buffer);
        g_server.headers = reinterpret_cast<const char*>(dataType);
    }
    return TRUE;
}

BOOL WINAPI FakeWriteClient(HCONN connection, LPVOID buffer, LPDWORD length, DWORD)
{
    g_server.writingFlagSeen = g_server.writingFlagSeen && WritingWebErrorPage() && connection == g_ecb.ConnID;
    g_server.bodyLength = *length;
    g_server.body.assign(static_cast<const char*>(buffer), *length);
    return TRUE;
}

EXTENSION_CONTROL_BLOCK* FakeECB() { return &g_ecb; }

TEST(ISAPIResponse, HeaderGoesThroughTheServerAndThePageToTheClient)
{
    g_server = ServerRecord();
    g_ecb = EXTENSION_CONTROL_BLOCK{};
    g_ecb.cbSize = sizeof g_ecb;
    g_ecb.ConnID = reinterpret_cast<HCONN>(0x1234);
    g_ecb.ServerSupportFunction = FakeServerSupportFunction;
    g_ecb.WriteClient = FakeWriteClient;
    SetServerECBProvider(FakeECB);
    EXPECT_TRUE(WriteWebErrorResponse(TWebApplicationKind::ISAPI, "<html>page</html>"));
    SetServerECBProvider(nullptr);

    EXPECT_EQ(g_ecb.dwHttpStatusCode, 200u);
    EXPECT_EQ(g_server.requests, std::vector<DWORD>{HSE_REQ_SEND_RESPONSE_HEADER});
    EXPECT_EQ(g_server.connection, g_ecb.ConnID);
    EXPECT_EQ(g_server.status, "200 Error");
    EXPECT_EQ(g_server.headers, "Content-Type: text/html\r\nContent-Length: 17\r\nContent:\r\n\r\n");
    EXPECT_EQ(g_server.body, "<html>page</html>");
    EXPECT_EQ(g_server.bodyLength, 17u);
    EXPECT_TRUE(g_server.writingFlagSeen);
    EXPECT_FALSE(WritingWebErrorPage());
}

BOOL WINAPI RefusingWriteClient(HCONN, LPVOID, LPDWORD, DWORD) { return FALSE; }

TEST(ISAPIResponse, ClientThatTakesNoPageIsAFailure)
{
    g_server = ServerRecord();
    g_ecb = EXTENSION_CONTROL_BLOCK{};
    g_ecb.ServerSupportFunction = FakeServerSupportFunction;
    g_ecb.WriteClient = RefusingWriteClient;
    SetServerECBProvider(FakeECB);
    EXPECT_FALSE(WriteWebErrorResponse(TWebApplicationKind::ISAPI, "<html/>"));
    SetServerECBProvider(nullptr);
    EXPECT_FALSE(WritingWebErrorPage());
}

TEST(ISAPIResponse, WithoutARequestBlockNothingIsWritten)
{
    SetServerECBProvider(nullptr);
    ClearLastWarning();
    EXPECT_FALSE(WriteWebErrorResponse(TWebApplicationKind::ISAPI, "<html/>"));
    EXPECT_EQ(LastWarningMessage(), "ISAPI: ServerECB = nil");
}

TEST(IntraWeb, TheFrameworkIsAbsentSoItsPageIsNeverShown)
{
    ClearLastWarning();
    EXPECT_FALSE(ShowIntraWebErrorPage());
    EXPECT_EQ(LastWarningMessage(), "IntraWeb: IntraWebApplication e/o IntraWebServerController are set to nil.");
}

// ---- Files

TEST(WriteTextFile, CreatesOneMissingFolderLevelAndReplacesTheFile)
{
    const std::string folder = kv::WideToAnsi(kvtest::ScratchFolder(L"textfile"));
    EXPECT_TRUE(WriteTextFile("first text", folder + "new\\a.html"));
    EXPECT_TRUE(WriteTextFile("second", folder + "new\\a.html"));
    EXPECT_EQ(kvtest::ReadBytes(kv::AnsiToWide(folder + "new\\a.html")), "second");
    EXPECT_FALSE(WriteTextFile("x", folder + "two\\levels\\a.html"));
    EXPECT_FALSE(kvtest::PathExists(kv::AnsiToWide(folder + "two")));
}

TEST(CodeOffsetToAddress, CodeStartsOnePageAboveTheBase)
{
    EXPECT_EQ(CodeOffsetToAddress(reinterpret_cast<HMODULE>(0x400000), 0x10), reinterpret_cast<const void*>(0x401010));
}

} // namespace
