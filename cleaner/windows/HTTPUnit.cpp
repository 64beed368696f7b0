#include "cleaner/windows/HTTPUnit.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/MessageLoop.h"
#include "platform/TextCodec.h"

namespace kv {
namespace {

constexpr char kUpdateHost[] = "www.orbelune.com";
constexpr wchar_t kDownloadPage[] = L"https://www.orbelune.com/kestrelvane/download.html";
constexpr char kProductName[] = "Kestrelvane";

// Winsock for the length of one exchange.
class WinsockSession {
public:
    WinsockSession() { started_ = ::WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
    ~WinsockSession()
    {
        if (started_) ::WSACleanup();
    }
    bool Started() const noexcept { return started_; }

private:
    WSADATA data_{};
    bool started_ = false;
};

class Socket {
public:
    Socket() : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
    ~Socket()
    {
        if (IsValid()) {
            ::shutdown(socket_, SD_BOTH);
            ::closesocket(socket_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    bool IsValid() const noexcept { return socket_ != INVALID_SOCKET; }
    SOCKET Get() const noexcept { return socket_; }

private:
    SOCKET socket_;
};

// Every wait below names the socket once. Wine's server polls each entry of
// a select on its own; with one socket in two sets (read and error, say) an
// answer that arrives together with the peer's close can be seen for one
// entry while the other is set up, the wait misses it and, once its time-out
// strikes, the server of the whole prefix fails an internal check and ends.
// Errors need no set of their own: a reset makes the socket readable (recv
// then reports it), and the outcome of a connection comes as an event.
bool WaitReadable(SOCKET socket, DWORD timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
    return ::select(0, &readable, nullptr, nullptr, &wait) > 0 && FD_ISSET(socket, &readable);
}

// Connects within the time-out: a server that never answers the handshake
// must not hold the thread, and a refusal ends the wait at once.
bool ConnectWithTimeout(SOCKET socket, const sockaddr_in& address, DWORD timeoutMs)
{
    KernelHandle outcome(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!outcome || ::WSAEventSelect(socket, outcome.Get(), FD_CONNECT) != 0) return false;
    bool connected = ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (!connected && ::WSAGetLastError() == WSAEWOULDBLOCK &&
        ::WaitForSingleObject(outcome.Get(), timeoutMs) == WAIT_OBJECT_0) {
        WSANETWORKEVENTS events{};
        connected = ::WSAEnumNetworkEvents(socket, outcome.Get(), &events) == 0 &&
                    (events.lNetworkEvents & FD_CONNECT) && events.iErrorCode[FD_CONNECT_BIT] == 0;
    }
    // Back to a plain blocking socket for the exchange.
    ::WSAEventSelect(socket, nullptr, 0);
    u_long blocking = 0;
    return ::ioctlsocket(socket, FIONBIO, &blocking) == 0 && connected;
}

bool SendAll(SOCKET socket, const std::string& data)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        const int n = ::send(socket, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Receives until the peer closes, an error, the overall time-out or the size
// cap. Returns false when the answer is to be discarded (time-out, too large).
bool ReceiveAll(SOCKET socket, std::string& response, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    char chunk[5119];
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline || !WaitReadable(socket, static_cast<DWORD>(deadline - now))) return false;
        const int n = ::recv(socket, chunk, sizeof chunk, 0);
        if (n <= 0) return true; // closed by the peer, or a receive error: keep what arrived
        // Each chunk counts as text up to its first NUL byte.
        const std::size_t length = std::string_view(chunk, static_cast<std::size_t>(n)).find('\0');
        response.append(chunk, length == std::string_view::npos ? static_cast<std::size_t>(n) : length);
        if (response.size() > THTTP::kMaxResponseBytes) return false;
    }
}

bool IsDottedAddress(const std::string& host)
{
    return !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
}

} // namespace

void THTTP::AddRequestLine(std::string& request, const std::string& line)
{
    request += line;
    request += "\r\n";
}

std::string THTTP::GetResponseBody(const std::string& response)
{
    const std::size_t blank = response.find("\r\n\r\n");
    if (blank != std::string::npos) return response.substr(blank + 4);
    return response.size() > 3 ? response.substr(3) : std::string();
}

std::string THTTP::ResolveHostAddress(const std::string& host)
{
    if (IsDottedAddress(host)) return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return std::string();
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const auto* b = reinterpret_cast<const unsigned char*>(&address->sin_addr);
    const std::string text = Format("%d.%d.%d.%d", {b[0], b[1], b[2], b[3]});
    ::freeaddrinfo(found);
    return text;
}

void THTTP::SendRecv(THTTPRecord& record, std::string& body, DWORD timeoutMs)
{
    WinsockSession winsock;
    if (!winsock.Started()) return;
    Socket socket;
    if (!socket.IsValid()) return;
    const std::string address = ResolveHostAddress(record.HostName);
    if (address.empty()) return;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = ::htons(record.Port);
    if (::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) return;
    if (!ConnectWithTimeout(socket.Get(), target, timeoutMs)) return;

    const DWORD sendTimeout = timeoutMs;
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout),
                 sizeof sendTimeout);
    record.sRequest.clear();
    AddRequestLine(record.sRequest, record.Method + " " + record.FileName + " HTTP/1.0");
    AddRequestLine(record.sRequest, "Host: " + record.HostName);
    AddRequestLine(record.sRequest, "User-Agent: " + record.UserAgent);
    AddRequestLine(record.sRequest, "Referer: " + record.Referer);
    AddRequestLine(record.sRequest, "Connection: Close");
    AddRequestLine(record.sRequest, "");
    if (!SendAll(socket.Get(), record.sRequest)) return;
    ::shutdown(socket.Get(), SD_SEND);

    std::string response;
    if (!ReceiveAll(socket.Get(), response, timeoutMs)) response.clear();
    if (response.empty()) {
        record.StatuCode = "000";
        return;
    }
    record.StatuCode = response.size() > 9 ? response.substr(9, 3) : std::string();
    if (record.StatuCode == "200") body = GetResponseBody(response);
}

bool IsVersionText(const std::string& text)
{
    std::string version = text;
    while (!version.empty() && (version.back() == '\r' || version.back() == '\n' || version.back() == ' ' ||
                                version.back() == '\t'))
        version.pop_back();
    int parts = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = version.find('.', start);
        const std::string part = version.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        if (++parts > 4) return false;
        if (dot == std::string::npos) return true;
        start = dot + 1;
    }
}

UpdateServer DefaultUpdateServer()
{
    UpdateServer server{kUpdateHost, 80, kDownloadPage};
    char value[256] = {};
    const DWORD length = ::GetEnvironmentVariableA("KESTRELVANE_UPDATE_SERVER", value, sizeof value);
    if (length > 0 && length < sizeof value) {
        const std::string text(value, length);
        const std::size_t colon = text.rfind(':');
        server.host = text.substr(0, colon);
        if (colon != std::string::npos) {
            const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
            if (port > 0 && port < 65536) server.port = static_cast<std::uint16_t>(port);
        }
    }
    return server;
}

TCheckForUpdates::TCheckForUpdates(IUpdateCheckView& view, UpdateServer server)
    : view_(view), server_(std::move(server))
{
}

TCheckForUpdates::~TCheckForUpdates() = default;

void TCheckForUpdates::Execute() { CheckForUpdates(); }

void TCheckForUpdates::ShowStatus()
{
    RunOnMainThread([this] { view_.ShowStatus(StatusText); });
}

void TCheckForUpdates::ShowStatusMessage()
{
    RunOnMainThread([this] { view_.ShowStatusMessage(StatusText); });
}

void TCheckForUpdates::CheckForUpdates()
{
    CurrentVer = WideToAnsi(ReadFileVersionText());
    RunOnMainThread([this] { view_.SetCheckForUpdatesEnabled(false); });
    // The menu entry comes back however the check ends.
    struct ReEnable {
        TCheckForUpdates* self;
        ~ReEnable()
        {
            try {
                RunOnMainThread([this] { self->view_.SetCheckForUpdatesEnabled(true); });
            } catch (...) {
            }
        }
    } reEnable{this};

    StatusText = view_.Text(76);
    ShowStatus();

    THTTPRecord record;
    record.Method = "GET";
    record.HostName = server_.host;
    record.Port = server_.port;
    record.FileName = "/updates.txt";
    record.UserAgent = Format("Name(%s)LangID(%s)Ver(%s)",
                              {kProductName, std::to_string(::GetSystemDefaultLangID()), CurrentVer});
    record.Referer = "Kestrelvane";
    std::string body;
    THTTP::SendRecv(record, body);
    Ver = IsVersionText(body) ? body : std::string();

    StatusText.clear();
    ShowStatus();

    if (Ver.empty()) {
        StatusText = view_.Text(79);
        ShowStatusMessage();
        return;
    }
    const std::wstring newest = AnsiToWide(Ver);
    if (CompareVersions(AnsiToWide(CurrentVer), newest)) {
        std::wstring shown = newest;
        while (!shown.empty() && (shown.back() == L'\r' || shown.back() == L'\n' || shown.back() == L' '))
            shown.pop_back();
        if (view_.AskYesNo(Format(view_.Text(77), {shown}), view_.Text(152)))
            view_.OpenDownloadPage(server_.downloadPage);
    } else {
        StatusText = view_.Text(78);
        ShowStatusMessage();
    }
}

} // namespace kv
