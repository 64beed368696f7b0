#include "crashreport/core/EOptionsFiles.h"

#include <windows.h>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/ESystem.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/StringList.h"
#include "platform/TextCodec.h"

namespace kv::crashreport {
namespace {

constexpr const char* kTextsSection = "Exception Log";
constexpr DWORD kIniValueBuffer = 2048;

bool CanOpenFile(const std::string& path, bool readOnly)
{
    if (readOnly) {
        FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file.IsValid();
    }
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    file.Reset();
    if (!existed) ::DeleteFileA(path.c_str());
    return true;
}

std::string ApplicationDataFolder()
{
    using GetFolderPathProc = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    ModuleHandle shfolder(::LoadLibraryA("shfolder.dll"));
    if (shfolder) {
        const auto getFolderPath =
            reinterpret_cast<GetFolderPathProc>(::GetProcAddress(shfolder.Get(), "SHGetFolderPathA"));
        char buffer[MAX_PATH] = {};
        if (getFolderPath && SUCCEEDED(getFolderPath(nullptr, 26 /* CSIDL_APPDATA */, nullptr, 0, buffer)) &&
            buffer[0] != '\0')
            return buffer;
    }
    return ExpandTag("AppData");
}

std::string IniPath(const std::string& fileName)
{
    if (ExtractFilePath(fileName).empty()) return DefaultIniFolder() + "\\" + fileName;
    return fileName;
}

// Keys of the texts file: "Count mtDialog_Caption", "mtDialog_Caption0", ...
std::string CountKey(TMessageType type) { return std::string("Count ") + MessageTypeIdentifier(type); }
std::string LineKey(TMessageType type, int line) { return MessageTypeIdentifier(type) + std::to_string(line); }

std::string Unquoted(std::string line)
{
    if (line.size() >= 2 && line.front() == '"' && line.back() == '"') return line.substr(1, line.size() - 2);
    return line;
}

int ParseCount(const std::string& text)
{
    const std::string trimmed = TrimText(text);
    if (trimmed.empty() || trimmed.size() > 9) return 0;
    int value = 0;
    std::size_t i = trimmed[0] == '-' || trimmed[0] == '+' ? 1 : 0;
    if (i == trimmed.size()) return 0;
    for (; i < trimmed.size(); ++i) {
        if (trimmed[i] < '0' || trimmed[i] > '9') return 0;
        value = value * 10 + (trimmed[i] - '0');
    }
    return trimmed[0] == '-' ? -value : value;
}

} // namespace

std::string ExtractFilePath(std::string_view path)
{
    const std::size_t slash = path.find_last_of("\\:");
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ExtractFileName(std::string_view path)
{
    const std::size_t slash = path.find_last_of("\\:");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtractFileExt(std::string_view path)
{
    const std::size_t dot = path.find_last_of(".\\:");
    return dot != std::string_view::npos && path[dot] == '.' ? std::string(path.substr(dot)) : std::string();
}

std::string ChangeFileExt(std::string_view path, std::string_view extension)
{
    const std::size_t dot = path.find_last_of(".\\:");
    const std::string_view stem = dot != std::string_view::npos && path[dot] == '.' ? path.substr(0, dot) : path;
    return std::string(stem) + std::string(extension);
}

std::string FileNameSafeText(std::string_view text)
{
    std::string safe(text);
    for (char& c : safe)
        if (std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos) c = '_';
    return safe;
}

std::string ComputerNameForFile() { return FileNameSafeText(GetComputerNameText().substr(0, 15)); }

std::string DefaultOutputFolder()
{
    return WithoutTrailingBackslash(ApplicationDataFolder()) + "\\OspreyLog";
}

std::string DefaultIniFolder()
{
    if (!RunningOnWindows9x()) return DefaultOutputFolder();
    char windows[MAX_PATH] = {};
    return std::string(windows, ::GetWindowsDirectoryA(windows, MAX_PATH));
}

bool ForceFolders(const std::string& path)
{
    if (path.empty()) return false;
    const std::string folder = ExpandPathTags(WithoutTrailingBackslash(path));
    if (folder.size() < 3 || FolderExists(folder)) return true;
    const std::string parent = WithoutTrailingBackslash(ExtractFilePath(folder));
    if (parent == folder) return true;
    if (!parent.empty() && !ForceFolders(parent)) return false;
    return ::CreateDirectoryA(folder.c_str(), nullptr) || FolderExists(folder);
}

bool EnsureWritableLogPath(std::string& path, bool addProgramFolder, bool readOnly)
{
    path = ExpandPathTags(path);
    if (CanOpenFile(path, readOnly)) return true;
    std::string folder = DefaultOutputFolder();
    if (!ForceFolders(folder)) return false;
    if (addProgramFolder) {
        folder += "\\" + ChangeFileExt(ExtractFileName(GetExeFileName()), "");
        if (!ForceFolders(folder)) return false;
    }
    const std::string fallback = folder + "\\" + ExtractFileName(path);
    if (!CanOpenFile(fallback, readOnly)) return false;
    path = fallback;
    return true;
}

std::string ReadIniString(const std::string& fileName, const std::string& section, const std::string& key,
                          const std::string& defaultValue)
{
    std::string path = IniPath(fileName);
    if (!EnsureWritableLogPath(path, false, false)) return defaultValue;
    // Our own INI reader, as for the language files (Wine's profile API treats
    // byte-order marks differently from Windows), on the ANSI text.
    const std::optional<std::string> bytes = ReadWholeFile(AnsiToWide(path));
    if (!bytes) return defaultValue;
    const std::optional<std::wstring> value = IniFile(AnsiToWide(*bytes)).Read(AnsiToWide(section), AnsiToWide(key));
    if (!value) return defaultValue;
    // Values are read into a buffer of kIniValueBuffer characters, the last one the end mark.
    return WideToAnsi(*value).substr(0, kIniValueBuffer - 1);
}

void WriteIniString(const std::string& fileName, const std::string& section, const std::string& key,
                    const std::string& value)
{
    std::string path = IniPath(fileName);
    if (!EnsureWritableLogPath(path, false, false)) return;
    ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str());
}

// ---- The options' files

void TOspreyModuleOptions::SaveCustomizedTextsToFile(const std::string& fileName)
{
    for (int i = 0; i < MessageTypeCount; ++i) {
        const auto type = static_cast<TMessageType>(i);
        const AnsiStringList lines(GetCustomizedTexts(type));
        WriteIniString(fileName, kTextsSection, CountKey(type), std::to_string(lines.Count()));
        for (std::size_t line = 0; line < lines.Count(); ++line)
            WriteIniString(fileName, kTextsSection, LineKey(type, static_cast<int>(line)), "\"" + lines[line] + "\"");
    }
    SetTextsCollection(ChangeFileExt(fileName, ""));
}

void TOspreyModuleOptions::LoadCustomizedTextsFromFile(const std::string& fileName)
{
    for (int i = 0; i < MessageTypeCount; ++i) {
        const auto type = static_cast<TMessageType>(i);
        const int count = ParseCount(ReadIniString(fileName, kTextsSection, CountKey(type), ""));
        if (count < 1) continue;
        const std::string current = GetCustomizedTexts(type);
        std::string text;
        for (int line = 0; line < count; ++line) {
            if (line) text += "\r\n";
            text += Unquoted(ReadIniString(fileName, kTextsSection, LineKey(type, line), current));
        }
        SetCustomizedTexts(type, text);
    }
    SetTextsCollection(ChangeFileExt(fileName, ""));
}

std::string TOspreyModuleOptions::OutputFile(const std::string& fileName) const
{
    std::string result;
    if (LowerCaseText(ExtractFileExt(OutputPath())) == ".elf") {
        result = OutputPath();
    } else {
        std::string folder = OutputPath().empty() ? ExtractFilePath(fileName) : OutputPath();
        if (folder.empty() || folder.back() != '\\') folder += '\\';
        result = folder + ExtractFileName(fileName);
    }
    ForceFolders(ExtractFilePath(result));
    EnsureWritableLogPath(result, true, false);
    return result;
}

std::string TOspreyModuleOptions::OutputLogFile(const std::string& baseFile) const
{
    const std::string base = baseFile.empty() ? StripVsHostSuffix(ModuleName()) : baseFile;
    std::string path = OutputFile(ChangeFileExt(base, ".elf"));
    if (LogOptions().Contains(loAddComputerNameInLogFileName)) {
        const std::string extension = ExtractFileExt(path);
        path = ChangeFileExt(path, "") + "_" + ComputerNameForFile() + extension;
    }
    return path;
}

} // namespace kv::crashreport
