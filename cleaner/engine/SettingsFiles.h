#pragma once
// Settings that travel as registry files: job files ("*.kv", a snapshot of the
// settings with the job's own flags), the user's exports and imports, and the
// settings work of the program's exit.
//
// A job file may only write the two job keys and an import only the product's
// own key: a file that names any other key is never handed to the registry
// editor, and nothing is deleted for it.
#include <string>
#include <vector>

#include "cleaner/engine/RegistryFile.h"
#include "cleaner/engine/SettingsStore.h"

namespace kv {

// The keys a job file may write: the legacy and the current key + "\Job".
std::vector<std::wstring> JobKeys();
void DeleteJobKeys();

// True when the argument names an existing file whose extension (from the
// last dot of its name) is exactly ".kv".
bool IsJobFileArgument(const std::wstring& argument);

// Whether a job file's sections hold a whole snapshot: the job key's
// "\Settings" and "\ScanDrives" (a file cut short would run on defaults).
bool IsCompleteJobSnapshot(const std::vector<TRegistrySection>& sections);

// Replaces both job keys by the snapshot in the file. False, with nothing
// deleted, when the file is no job file of ours or no complete snapshot.
bool ImportJobFile(const std::wstring& fileName);

// The settings root of a job run: the current key + "\Job" when the import
// made it, else the legacy one.
std::wstring JobSettingsRoot();

// The job's steps from SettingsRoot + "\Job" into AutoScan, AutoClean and
// AutoExit (a hidden run always exits); a new job clears StoppedByUser.
void LoadJobFlags();

struct TJobOptions {
    bool autoScan = true;
    bool autoClean = true;
    bool autoExit = true;
    bool runHiddenly = false;
};

// Writes a job file: the whole of `current` as a fresh snapshot under the
// current key + "\Job", the job's flags in its "\Job", exported to the file.
// The snapshot key is removed again afterwards.
bool WriteJobFile(const TSettings& current, const TJobOptions& options, const std::wstring& fileName,
                  const TExportNotice* notice = nullptr);

// Saves `current` under the current key and exports it (without job keys).
bool ExportSettingsFile(const TSettings& current, const std::wstring& fileName,
                        const TExportNotice* notice = nullptr);

inline constexpr wchar_t ImportRefusedText[] = L"%s is not a Kestrelvane settings file. Nothing was imported.";

// A file the user chose to import: a registry file that writes only below the
// product's key.
bool IsImportableSettingsFile(const std::wstring& fileName);

enum class TImportResult { None, Imported, Refused, Failed };

// Replaces the current key by the file's contents; the former settings are
// kept when the file is refused or the import fails.
TImportResult ImportSettingsFile(const std::wstring& fileName);

// The settings work when the program closes, after every worker has ended:
// save `current` under the current key (not in job mode, not when an
// importable file is pending), delete the job keys, apply a pending import and
// export the settings to ProgramFolder + "Kestrelvane.reg".
TImportResult StoreSettingsAtExit(const TSettings& current);

} // namespace kv
