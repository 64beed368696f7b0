#pragma once
// The files a report leaves in the user's temporary folder to be attached
// when it is sent (screenshot, log copy, XML copy, last HTML page, zip, leak
// data), the names they are attached under, and the duplicate check against
// the module's log file.
#include <string>
#include <vector>

namespace kv::crashreport {

class TLogFile;

// The current module's log file, open between OpenLogFile and CloseLogFile;
// nullptr otherwise.
void OpenLogFile();
void CloseLogFile();
TLogFile* SharedLogFile() noexcept;

// With loNoDuplicateErrors: sets the duplicate flag when the report's
// identifier is in the log and, with raiseCount, adds one to the stored
// report's count and saves the log.
void UpdateDuplicateReportCount(bool raiseCount);

std::string DecorateAttachmentName(const std::string& fileName);

std::string GetScreenshotFileName();
std::string GetChosenScreenshotFileName();
std::string GetLogCopyFileName();
std::string GetZipFileName();
std::string GetProcessDataFileName();
std::string GetLastHTMLPageFileName();
std::string GetSavedLastHTMLPageFileName();
std::string GetXMLCopyFileName();

// Errors are ignored.
void SaveLastHTMLPage(const std::string& text);
// Writes the XML copy of the log copy when the options ask for it.
void SaveXMLLogCopy();
// The XML form of a log belongs to the XML unit; until that is linked in,
// nothing is written. Receives the log copy's and the XML file's names.
using XMLLogCopyWriter = void (*)(const std::string& logCopyFileName, const std::string& xmlFileName);
void SetXMLLogCopyWriter(XMLLogCopyWriter writer) noexcept;

// Empty when the name is empty, the file is missing or cannot be read.
std::string ReadTextFile(const std::string& fileName);

std::vector<std::string> CollectFilesToSend(bool forEMail);

} // namespace kv::crashreport
