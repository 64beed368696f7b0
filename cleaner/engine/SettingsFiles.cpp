#include "cleaner/engine/SettingsFiles.h"

#include <windows.h>

#include "cleaner/engine/RegistryFile.h"
#include "platform/Registry.h"

namespace kv {
namespace {

std::wstring CurrentJobKey() { return std::wstring(CurrentSettingsKey) + JobSubKey; }
std::wstring LegacyJobKey() { return std::wstring(LegacySettingsKey) + JobSubKey; }

std::wstring FileExtension(const std::wstring& path)
{
    const std::size_t dot = path.rfind(L'.');
    const std::size_t separator = path.find_last_of(L"\\/:");
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator)) return std::wstring();
    return path.substr(dot);
}

} // namespace

std::vector<std::wstring> JobKeys() { return {LegacyJobKey(), CurrentJobKey()}; }

void DeleteJobKeys()
{
    for (const std::wstring& key : JobKeys()) DeleteRegistryTree(HKEY_CURRENT_USER, key);
}

bool IsJobFileArgument(const std::wstring& argument)
{
    const DWORD attributes = ::GetFileAttributesW(argument.c_str());
    if (argument.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return FileExtension(argument) == L".kv";
}

bool IsCompleteJobSnapshot(const std::vector<TRegistrySection>& sections)
{
    auto names = [&](const std::wstring& key) {
        for (const TRegistrySection& section : sections)
            if (!section.remove && IsKeyWithin(section.key, key)) return true;
        return false;
    };
    // The run reads the current job key when the import made it, else the legacy one.
    const std::wstring root = names(CurrentJobKey()) ? CurrentJobKey() : LegacyJobKey();
    return names(root + SettingsSubKey) && names(root + ScanDrivesSubKey);
}

bool ImportJobFile(const std::wstring& fileName)
{
    const auto file = ReadRegistryFile(fileName, JobKeys());
    // A cut snapshot would run on defaults: every fixed drive, the recycle bin.
    if (!file || !IsCompleteJobSnapshot(file->sections)) return false;
    DeleteJobKeys();
    // A failing registry editor leaves no job key: the run then reads defaults.
    ImportRegistryFile(*file);
    return true;
}

std::wstring JobSettingsRoot()
{
    return RegistryKeyExists(HKEY_CURRENT_USER, CurrentJobKey()) ? CurrentJobKey() : LegacyJobKey();
}

void LoadJobFlags()
{
    const RegistryIniView job(HKEY_CURRENT_USER, SettingsRoot + JobSubKey);
    AutoScan = job.ReadBool(L"", L"AutoScan", false);
    AutoClean = job.ReadBool(L"", L"AutoClean", false);
    AutoExit = job.ReadBool(L"", L"AutoExit", false) || RunHiddenly;
    StoppedByUser = 0;
}

bool WriteJobFile(const TSettings& current, const TJobOptions& options, const std::wstring& fileName,
                  const TExportNotice* notice)
{
    const std::wstring root = CurrentJobKey();
    // A fresh snapshot: lists of an earlier job file must not linger in it.
    DeleteRegistryTree(HKEY_CURRENT_USER, root);
    SaveSettings(current, root);
    // A snapshot without these keys is refused when it is run.
    RegistryKey::Create(HKEY_CURRENT_USER, root + SettingsSubKey);
    RegistryKey::Create(HKEY_CURRENT_USER, root + ScanDrivesSubKey);
    RegistryIniView job(HKEY_CURRENT_USER, root + JobSubKey);
    job.WriteBool(L"", L"AutoScan", options.autoScan);
    job.WriteBool(L"", L"AutoClean", options.autoClean);
    job.WriteBool(L"", L"AutoExit", options.autoExit);
    job.WriteBool(L"", L"RunHiddenly", options.runHiddenly);
    const bool written = ExportSettingsKey(L"", fileName, notice, root);
    DeleteRegistryTree(HKEY_CURRENT_USER, root);
    return written;
}

bool ExportSettingsFile(const TSettings& current, const std::wstring& fileName, const TExportNotice* notice)
{
    SettingsRoot = CurrentSettingsKey;
    SaveSettings(current);
    DeleteRegistryTree(HKEY_CURRENT_USER, CurrentJobKey());
    return ExportSettingsKey(L"", fileName, notice);
}

bool IsImportableSettingsFile(const std::wstring& fileName)
{
    return ReadRegistryFile(fileName, {LegacySettingsKey}).has_value();
}

TImportResult ImportSettingsFile(const std::wstring& fileName)
{
    // Read and checked again here: the file may have changed since it was chosen.
    const auto file = ReadRegistryFile(fileName, {LegacySettingsKey});
    if (!file) return TImportResult::Refused;
    return ReplaceRegistryKey(CurrentSettingsKey, *file) ? TImportResult::Imported : TImportResult::Failed;
}

TImportResult StoreSettingsAtExit(const TSettings& current)
{
    // From here on the current key is the one written, whichever key the run used.
    SettingsRoot = CurrentSettingsKey;
    // A pending file that is no longer importable must not cost the settings
    // of this run: they are saved as at any other exit.
    const bool importing = !PendingImport.empty() && IsImportableSettingsFile(PendingImport);
    if (!JobMode && !importing) SaveSettings(current);
    DeleteJobKeys();
    const TImportResult imported = PendingImport.empty() ? TImportResult::None : ImportSettingsFile(PendingImport);
    ExportSettingsKey(L"", ProgramFolder + L"Kestrelvane.reg");
    return imported;
}

} // namespace kv
