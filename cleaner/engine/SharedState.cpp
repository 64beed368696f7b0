#include "cleaner/engine/SharedState.h"

namespace kv {

std::wstring ProgramFolder;
std::atomic<bool> JobMode{false};
std::atomic<bool> RunHiddenly{false};
std::atomic<bool> AutoScan{false};
std::atomic<bool> AutoClean{false};
std::atomic<bool> AutoExit{false};
std::wstring PendingImport;

std::atomic<int> CurrentPage{pgAbout};

std::atomic<std::int32_t> StopRequested{1};
std::atomic<std::int32_t> StoppedByUser{0};
std::atomic<std::uint8_t> ScanDone{0};
std::atomic<std::uint8_t> AppClosing{0};
std::atomic<std::uint8_t> CleanPageActive{0};

std::atomic<std::int64_t> ScanFoundSize{0};
std::atomic<std::int64_t> JunkTotalSize{0};

std::array<std::atomic<std::int64_t>, ctTargetCount> TargetSize{};
std::array<std::atomic<std::uint8_t>, ctTargetCount> TargetSizeReady{};

std::wstring UserTempFolder;
std::wstring WinTempFolder;
std::wstring RecentFolder;
std::wstring IECacheFolder;
std::wstring IECookiesFolder;
std::wstring IEHistoryFolder;
std::wstring FirefoxCacheFolder;
std::wstring FirefoxHistoryFile;
std::wstring FirefoxCookiesFile;
std::wstring UltraEditIniFile;

std::wstring CurrentUserSid;

std::wstring CookieKeepList;

std::wstring LanguageFile;
std::wstring ScanStatusPrefix;
std::atomic<bool> ShowBalloonTips{true};

} // namespace kv
