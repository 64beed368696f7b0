#include "cleaner/engine/WineTrash.h"

#include <windows.h>

#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace kv {
namespace {

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

// The Trash folder as the prefix opens it ("\\?\unix\home\...\Trash\").
std::wstring TrashFolder()
{
    std::wstring base = Environment(L"XDG_DATA_HOME");
    if (base.empty() || base.front() != L'/') {
        const std::wstring home = Environment(L"HOME");
        if (home.empty() || home.front() != L'/') return std::wstring();
        base = home + L"/.local/share";
    }
    std::wstring folder = L"\\\\?\\unix" + base + L"/Trash/";
    for (wchar_t& c : folder)
        if (c == L'/') c = L'\\';
    return folder;
}

// The host's path of a DOS path, as Wine maps it.
std::string UnixPathOf(const std::wstring& path)
{
    using UnixNameProc = char*(CDECL*)(LPCWSTR);
    static const auto unixName = reinterpret_cast<UnixNameProc>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (!unixName) return std::string();
    char* name = unixName(path.c_str());
    if (!name) return std::string();
    std::string result(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

// The Trash keeps paths as URIs: every byte but the unreserved ones and "/" escaped.
std::string EscapedPath(const std::string& path)
{
    std::string escaped;
    for (unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        escaped += plain ? std::string(1, static_cast<char>(c)) : Format("%%%.2X", {static_cast<unsigned>(c)});
    }
    return escaped;
}

std::string TrashInfo(const std::string& unixPath)
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return "[Trash Info]\nPath=" + EscapedPath(unixPath) +
           Format("\nDeletionDate=%.4d-%.2d-%.2dT%.2d:%.2d:%.2d\n",
                  {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

bool IsAsciiName(const std::wstring& name)
{
    for (wchar_t c : name)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

} // namespace

TWineTrash::TWineTrash()
{
    if (!RunningOnWine()) return;
    trash_ = TrashFolder();
    if (trash_.empty()) return;
    ::CreateDirectoryW(trash_.c_str(), nullptr);
    ::CreateDirectoryW((trash_ + L"files").c_str(), nullptr);
    ::CreateDirectoryW((trash_ + L"info").c_str(), nullptr);
}

// Wine spells a plain ASCII name the same on the host, so an entry of the
// folder looked up last needs no lookup of its own; any other name (Wine
// maps some characters to private ones) is looked up whole.
std::string TWineTrash::HostPathOf(const std::wstring& path)
{
    const std::size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos) return UnixPathOf(path);
    const std::wstring folder = path.substr(0, cut + 1);
    const std::wstring name = path.substr(cut + 1);
    if (name.empty() || !IsAsciiName(name)) return UnixPathOf(path);
    if (folder != lastFolder_) {
        std::string host = UnixPathOf(folder);
        if (host.empty()) return UnixPathOf(path);
        if (host.back() != '/') host += '/';
        lastFolder_ = folder;
        lastHostFolder_ = std::move(host);
    }
    return lastHostFolder_ + std::string(name.begin(), name.end());
}

constexpr int kTrashNameAttempts = 1000;

std::optional<TTrashSlot> TWineTrash::ReserveFrom(const std::wstring& path, int& attempt)
{
    if (trash_.empty()) return std::nullopt;
    const std::string unixPath = HostPathOf(path);
    if (unixPath.empty()) return std::nullopt;
    const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    const std::string info = TrashInfo(unixPath);
    for (; attempt < kTrashNameAttempts; ++attempt) {
        const std::wstring candidate = attempt == 0 ? name : Format(L"%s.%d", {name, attempt});
        const TTrashSlot slot{trash_ + L"info\\" + candidate + L".trashinfo", trash_ + L"files\\" + candidate};
        // The record reserves the name; CREATE_NEW never writes through
        // anything already there.
        FileHandle record(::CreateFileW(slot.infoPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!record) {
            if (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return std::nullopt;
        }
        DWORD written = 0;
        const bool complete = ::WriteFile(record.Get(), info.data(), static_cast<DWORD>(info.size()), &written,
                                          nullptr) &&
                              written == info.size();
        record.Reset();
        if (complete) return slot;
        Release(slot);
        return std::nullopt;
    }
    return std::nullopt;
}

void TWineTrash::Release(const TTrashSlot& slot) { ::DeleteFileW(slot.infoPath.c_str()); }

TTrashReservation::TTrashReservation(TWineTrash& trash, const std::wstring& path) : trash_(trash), path_(path)
{
    if (trash_.IsAvailable()) slot_ = trash_.ReserveFrom(path_, attempt_);
}

TTrashReservation::~TTrashReservation()
{
    if (slot_) TWineTrash::Release(*slot_);
}

TTrashMove TTrashReservation::MoveIn(const TCheckedFolder& folder, std::wstring_view name, const TCheckedEntry& entry)
{
    if (!slot_) return TTrashMove::Refused;
    if (folder.RenameOpened(entry, name, slot_->filePath)) {
        slot_.reset(); // the record now belongs to the entry in the Trash
        return TTrashMove::Moved;
    }
    TWineTrash::Release(*slot_);
    // Whether the name is free in "files" is learnt from the refused rename:
    // a look beforehand costs a read of the whole folder under Wine when the
    // name is missing, as it nearly always is.
    const bool taken = PathExists(slot_->filePath);
    slot_.reset();
    if (!taken) return TTrashMove::Refused;
    ++attempt_;
    slot_ = trash_.ReserveFrom(path_, attempt_);
    return slot_ ? TTrashMove::NameTaken : TTrashMove::Refused;
}

} // namespace kv
