#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "cleaner/windows/HTTPUnit.h"
#include "common/TestSupport.h"
#include "platform/Handles.h"
#include "platform/MessageLoop.h"
#include "platform/TextCodec.h"

namespace {

// ---- A scripted loopback server: accepts one connection, records the
// request, then sends a fixed reply (or stays silent until released).

class ScriptedServer {
public:
    enum class Mode { Reply, Silent };

    ScriptedServer(std::string reply, Mode mode) : reply_(std::move(reply)), mode_(mode)
    {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        int length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ::ntohs(address.sin_port);
        release_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread_.Reset(::CreateThread(nullptr, 0, &ScriptedServer::Serve, this, 0, nullptr));
    }
    ~ScriptedServer()
    {
        ::SetEvent(release_.Get());
        ::WaitForSingleObject(thread_.Get(), 10000);
        ::closesocket(listener_);
        ::WSACleanup();
    }
    std::uint16_t Port() const { return port_; }
    std::string Request()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return request_;
    }

private:
    static DWORD WINAPI Serve(void* parameter)
    {
        auto* self = static_cast<ScriptedServer*>(parameter);
        fd_set set;
        FD_ZERO(&set);
        FD_SET(self->listener_, &set);
        timeval wait{10, 0};
        if (::select(0, &set, nullptr, nullptr, &wait) <= 0) return 0;
        const SOCKET client = ::accept(self->listener_, nullptr, nullptr);
        char buffer[4096];
        for (;;) {
            const int n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->request_.append(buffer, static_cast<std::size_t>(n));
        }
        if (self->mode_ == Mode::Reply)
            ::send(client, self->reply_.data(), static_cast<int>(self->reply_.size()), 0);
        else
            ::WaitForSingleObject(self->release_.Get(), 20000);
        ::shutdown(client, SD_BOTH);
        ::closesocket(client);
        return 0;
    }

    std::string reply_;
    Mode mode_;
    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    std::mutex mutex_;
    std::string request_;
    kv::KernelHandle release_;
    kv::KernelHandle thread_;
};

kv::THTTPRecord UpdateRequest(std::uint16_t port)
{
    kv::THTTPRecord record;
    record.Method = "GET";
    record.HostName = "127.0.0.1";
    record.Port = port;
    record.FileName = "/updates.txt";
    record.UserAgent = "Name(Kestrelvane)LangID(1033)Ver(1.0.0.0)";
    record.Referer = "Kestrelvane";
    return record;
}

TEST(THTTP, SendsTheExactRequestAndReadsTheBody)
{
    ScriptedServer server("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n2.0.1.7\r\n", ScriptedServer::Mode::Reply);
    kv::THTTPRecord record = UpdateRequest(server.Port());
    std::string body;
    kv::THTTP::SendRecv(record, body);
    EXPECT_EQ(server.Request(),
              "GET /updates.txt HTTP/1.0\r\n"
              "Host: 127.0.0.1\r\n"
              "User-Agent: Name(Kestrelvane)LangID(1033)Ver(1.0.0.0)\r\n"
              "Referer: Kestrelvane\r\n"
              "Connection: Close\r\n"
              "\r\n");
    EXPECT_EQ(record.sRequest, server.Request());
    EXPECT_EQ(record.StatuCode, "200");
    EXPECT_EQ(body, "2.0.1.7\r\n");
}

struct ReplyCase {
    const char* name;
    std::string reply;
    const char* status;
    const char* body;
};

class THTTPReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(THTTPReplies, StatusAndBody)
{
    ScriptedServer server(GetParam().reply, ScriptedServer::Mode::Reply);
    kv::THTTPRecord record = UpdateRequest(server.Port());
    std::string body = "untouched";
    kv::THTTP::SendRecv(record, body);
    EXPECT_EQ(record.StatuCode, GetParam().status);
    EXPECT_EQ(body, GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, THTTPReplies,
    ::testing::Values(
        ReplyCase{"NotFound", "HTTP/1.0 404 Not Found\r\n\r\nmissing", "404", "untouched"},
        // No blank line: the body is the text from the fourth character on.
        ReplyCase{"NoBlankLine", "HTTP/1.0 200 OK", "200", "P/1.0 200 OK"},
        ReplyCase{"ShorterThanTwelveBytes", "HTTP/1.0 2", "2", "untouched"},
        ReplyCase{"NothingAtAll", "", "000", "untouched"},
        ReplyCase{"NulEndsAChunk", std::string("HTTP/1.0 200 OK\r\n\r\n1.2\0garbage", 30), "200", "1.2"},
        ReplyCase{"OverTheCap", "HTTP/1.0 200 OK\r\n\r\n" + std::string(70 * 1024, '9'), "000", "untouched"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(THTTP, SilentServerTimesOut)
{
    ScriptedServer server("", ScriptedServer::Mode::Silent);
    kv::THTTPRecord record = UpdateRequest(server.Port());
    std::string body;
    const ULONGLONG start = ::GetTickCount64();
    kv::THTTP::SendRecv(record, body, 700);
    EXPECT_LT(::GetTickCount64() - start, 8000u) << "the time-out ends the exchange";
    EXPECT_EQ(record.StatuCode, "000");
    EXPECT_EQ(body, "");
}

// A loopback port on which nothing listens any more.
std::uint16_t ClosedPort()
{
    ScriptedServer server("", ScriptedServer::Mode::Reply);
    const std::uint16_t port = server.Port();
    // One exchange lets the server's thread end; the listener closes with it.
    kv::THTTPRecord record = UpdateRequest(port);
    std::string ignored;
    kv::THTTP::SendRecv(record, ignored, 2000);
    return port;
}

TEST(THTTP, RefusedConnectionSendsNothing)
{
    kv::THTTPRecord record = UpdateRequest(ClosedPort());
    std::string body;
    const ULONGLONG start = ::GetTickCount64();
    kv::THTTP::SendRecv(record, body);
    EXPECT_LT(::GetTickCount64() - start, kv::THTTP::kTimeoutMs / 3) << "a refusal is not waited out";
    EXPECT_EQ(record.StatuCode, "");
    EXPECT_EQ(body, "");
}

TEST(THTTP, HelpersFollowTheWireRules)
{
    EXPECT_EQ(kv::THTTP::ResolveHostAddress("10.1.2.3"), "10.1.2.3") << "dotted address used as it stands";
    EXPECT_EQ(kv::THTTP::ResolveHostAddress("localhost"), "127.0.0.1");
    EXPECT_EQ(kv::THTTP::GetResponseBody("HTTP/1.0 200 OK\r\nA: b\r\n\r\nbody\r\n\r\nmore"), "body\r\n\r\nmore");
    EXPECT_EQ(kv::THTTP::GetResponseBody("abc"), "");
    std::string request;
    kv::THTTP::AddRequestLine(request, "Host: x");
    EXPECT_EQ(request, "Host: x\r\n");
}

TEST(IsVersionText, OneToFourDottedNumbers)
{
    for (const char* good : {"1", "1.2", "1.2.3.4", "1.2.3.4\r\n", "10.0 \n"})
        EXPECT_TRUE(kv::IsVersionText(good)) << good;
    for (const char* bad : {"", "1.2.3.4.5", "<html>404</html>", "1..2", ".1", "1.", "v1.2", "1.2 beta", "\r\n"})
        EXPECT_FALSE(kv::IsVersionText(bad)) << bad;
}

// ---- The whole check on its worker thread, against the distribution's
// python3 http.server that the test runner starts on 127.0.0.1.

class FakeView : public kv::IUpdateCheckView {
public:
    void SetCheckForUpdatesEnabled(bool enabled) override
    {
        enabledLog.push_back(enabled);
        if (enabled) done = true;
    }
    void ShowStatus(const std::wstring& text) override { statuses.push_back(text); }
    void ShowStatusMessage(const std::wstring& text) override { messages.push_back(text); }
    bool AskYesNo(const std::wstring& text, const std::wstring& caption) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        asked = text;
        askedCaption = caption;
        askedOnMainThread = kv::IsMainThread();
        return answer;
    }
    void OpenDownloadPage(const std::wstring& address) override { opened = address; }
    std::wstring Text(int index) override { return index == 77 ? L"T77 %s?" : L"T" + std::to_wstring(index); }

    std::atomic<bool> done{false};
    bool answer = false;
    std::vector<bool> enabledLog;
    std::vector<std::wstring> statuses, messages;
    std::mutex mutex;
    std::wstring asked, askedCaption, opened;
    bool askedOnMainThread = true;
};

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* port = std::getenv("KV_TEST_HTTP_PORT");
        const char* root = std::getenv("KV_TEST_HTTP_ROOT");
        ASSERT_TRUE(port && root) << "run through tools/with-test-servers.sh";
        server_ = {"127.0.0.1", static_cast<std::uint16_t>(std::atoi(port)), L"http://127.0.0.1/download"};
        updates_ = kv::AnsiToWide(root) + L"updates.txt";
        ::DeleteFileW(updates_.c_str());
    }
    void TearDown() override { ::DeleteFileW(updates_.c_str()); }

    void Run(FakeView& view)
    {
        kv::WorkerThread::Start<kv::TCheckForUpdates>(view, server_);
        for (int i = 0; i < 3000 && !view.done; ++i) {
            kv::ProcessMessages();
            ::Sleep(10);
        }
        ASSERT_TRUE(view.done);
        for (int i = 0; i < 500 && kv::WorkerThreadCount.load() != 1; ++i) ::Sleep(10);
        EXPECT_EQ(kv::WorkerThreadCount.load(), 1) << "the thread counted itself and ended";
        EXPECT_EQ(view.enabledLog, (std::vector<bool>{false, true}));
        ASSERT_GE(view.statuses.size(), 2u);
        EXPECT_EQ(view.statuses.front(), L"T76");
        EXPECT_EQ(view.statuses.back(), L"");
    }

    kv::UpdateServer server_;
    std::wstring updates_;
};

TEST_F(UpdateCheckTest, NewerVersionAsksAndOpensTheDownloadPage)
{
    kvtest::WriteBytes(updates_, "1.0.0.1\r\n");
    FakeView view;
    view.answer = true;
    Run(view);
    EXPECT_EQ(view.asked, L"T77 1.0.0.1?");
    EXPECT_EQ(view.askedCaption, L"T152");
    EXPECT_FALSE(view.askedOnMainThread) << "the question is asked from the update thread";
    EXPECT_EQ(view.opened, L"http://127.0.0.1/download");
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(UpdateCheckTest, NewerVersionDeclinedOpensNothing)
{
    kvtest::WriteBytes(updates_, "2.0");
    FakeView view;
    Run(view);
    EXPECT_EQ(view.asked, L"T77 2.0?");
    EXPECT_EQ(view.opened, L"");
}

struct OutcomeCase {
    const char* name;
    const char* body; // nullptr: no file (404)
    const wchar_t* message;
};

class UpdateCheckOutcomes : public UpdateCheckTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(UpdateCheckOutcomes, TellsTheUser)
{
    if (GetParam().body) kvtest::WriteBytes(updates_, GetParam().body);
    FakeView view;
    Run(view);
    EXPECT_EQ(view.messages, (std::vector<std::wstring>{GetParam().message}));
    EXPECT_EQ(view.asked, L"");
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateCheckOutcomes,
                         ::testing::Values(OutcomeCase{"Same", "1.0.0.0\r\n", L"T78"},
                                           OutcomeCase{"Older", "0.9.9", L"T78"},
                                           OutcomeCase{"NotFound", nullptr, L"T79"},
                                           OutcomeCase{"HtmlPage", "<html><body>Moved</body></html>", L"T79"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateCheckTest, NoServerGivesTheConnectionMessage)
{
    server_.port = ClosedPort();
    FakeView view;
    Run(view);
    EXPECT_EQ(view.messages, (std::vector<std::wstring>{L"T79"}));
}

// The loopback HTTP server of the test run answers and closes at once: the
// answer and the close reach the client together, at any moment of its
// wait. Each exchange reads the answer whole and none waits for the time-out
// (a wait that misses the close would; under Wine that brought down the
// whole prefix's server).
TEST_F(UpdateCheckTest, AnswerThatComesWithTheCloseIsReadEveryTime)
{
    kvtest::WriteBytes(updates_, "3.1.4\r\n");
    constexpr int kExchanges = 300;
    int read = 0;
    for (int exchange = 0; exchange < kExchanges; ++exchange) {
        kv::THTTPRecord record = UpdateRequest(server_.port);
        std::string body;
        kv::THTTP::SendRecv(record, body, 5000);
        if (record.StatuCode == "200" && body == "3.1.4\r\n") ++read;
    }
    EXPECT_EQ(read, kExchanges);
}

TEST(UpdateServer, EnvironmentPointsTheCheckElsewhere)
{
    ::SetEnvironmentVariableA("KESTRELVANE_UPDATE_SERVER", "127.0.0.1:8123");
    const kv::UpdateServer server = kv::DefaultUpdateServer();
    ::SetEnvironmentVariableA("KESTRELVANE_UPDATE_SERVER", nullptr);
    EXPECT_EQ(server.host, "127.0.0.1");
    EXPECT_EQ(server.port, 8123);
    EXPECT_EQ(kv::DefaultUpdateServer().port, 80);
}

} // namespace
