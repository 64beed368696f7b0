#pragma once
// The update check: a minimal HTTP/1.0 client over plain sockets and the
// thread that asks the maker's server for the newest version.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "cleaner/engine/FunctionUnit.h"
#include "platform/WorkerThread.h"

namespace kv {

// Request and response of one exchange; texts are 8-bit.
struct THTTPRecord {
    std::string Method;
    std::string HostName;
    std::uint16_t Port = 80;
    std::string FileName;
    std::string UserAgent;
    std::string Referer;
    std::string sRequest;
    std::string StatuCode; // "000" when nothing was received
};

class THTTP {
public:
    // Bounds that keep a silent or endless server from holding the thread.
    static constexpr DWORD kTimeoutMs = 15000;
    static constexpr std::size_t kMaxResponseBytes = 64 * 1024;

    // One exchange; `body` is set only when the status is "200".
    static void SendRecv(THTTPRecord& record, std::string& body, DWORD timeoutMs = kTimeoutMs);
    // A host of digits and dots is used as it stands; otherwise the first
    // address of a lookup, "" when unknown.
    static std::string ResolveHostAddress(const std::string& host);
    static void AddRequestLine(std::string& request, const std::string& line);
    static std::string GetResponseBody(const std::string& response);
};

// A version text is 1 to 4 dot-separated numbers (trailing line ends and
// blanks ignored); anything else (an error page, say) is no answer.
bool IsVersionText(const std::string& text);

// Where the update check asks. The program's default is the maker's server;
// the environment variable KESTRELVANE_UPDATE_SERVER ("host:port") points it
// elsewhere (tests use a server on the loopback address).
struct UpdateServer {
    std::string host;
    std::uint16_t port = 80;
    std::wstring downloadPage;
};
UpdateServer DefaultUpdateServer();

// What the update thread needs of the main window.
class IUpdateCheckView {
public:
    virtual ~IUpdateCheckView() = default;
    // Main thread (synchronised).
    virtual void SetCheckForUpdatesEnabled(bool enabled) = 0;
    virtual void ShowStatus(const std::wstring& text) = 0;
    virtual void ShowStatusMessage(const std::wstring& text) = 0;
    // On the update thread itself: the Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::wstring& text, const std::wstring& caption) = 0;
    virtual void OpenDownloadPage(const std::wstring& address) = 0;
    // A text of the language table.
    virtual std::wstring Text(int index) = 0;
};

class TCheckForUpdates : public WorkerThread {
public:
    TCheckForUpdates(IUpdateCheckView& view, UpdateServer server);
    ~TCheckForUpdates() override;

    // The thread's work, callable directly (tests run it on their own thread).
    void CheckForUpdates();

protected:
    void Execute() override;

private:
    void ShowStatus();
    void ShowStatusMessage();

    WorkerThreadCounter counted_;
    IUpdateCheckView& view_;
    UpdateServer server_;
    std::string Ver;
    std::string CurrentVer;
    std::wstring StatusText;
};

} // namespace kv
