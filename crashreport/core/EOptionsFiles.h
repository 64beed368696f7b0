#pragma once
// Where the crash reporter writes: the log file's path, the folders it falls
// back to when the chosen place is not writable, and the INI files it keeps
// (the customised texts, the dialogs' own settings).
#include <string>
#include <string_view>

namespace kv::crashreport {

// Path pieces in the runtime's manner ("C:\a\b.elf": "C:\a\", "b.elf", ".elf").
std::string ExtractFilePath(std::string_view path);
std::string ExtractFileName(std::string_view path);
std::string ExtractFileExt(std::string_view path);
std::string ChangeFileExt(std::string_view path, std::string_view extension);

// The computer name made safe for a file name.
std::string ComputerNameForFile();
// Each of " * / : < > ? \ | replaced by "_".
std::string FileNameSafeText(std::string_view text);

// Expands %TAG%s in `path` and tests that the file can be opened (for reading
// only, or for reading and writing: created for the test and removed again
// when it did not exist). Otherwise tries the same file name in
// DefaultOutputFolder() (and below it a folder named after the program when
// addProgramFolder) and points `path` there. False when neither place works.
bool EnsureWritableLogPath(std::string& path, bool addProgramFolder, bool readOnly);
// The user's application-data folder + "\OspreyLog" (no trailing backslash).
std::string DefaultOutputFolder();
std::string DefaultIniFolder();
// Creates the folder and its missing parents; %TAG%s expanded.
bool ForceFolders(const std::string& path);

// INI access; a bare file name lies in DefaultIniFolder(). A file that cannot
// be reached gives the default (read) or is left alone (write).
std::string ReadIniString(const std::string& fileName, const std::string& section, const std::string& key,
                          const std::string& defaultValue);
void WriteIniString(const std::string& fileName, const std::string& section, const std::string& key,
                    const std::string& value);

} // namespace kv::crashreport
