#include "cleaner/windows/LangDataUnit.h"

#include <windows.h>

#include <array>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/OwnFiles.h"
#include "cleaner/engine/SharedState.h"
#include "platform/Format.h"
#include "platform/TextCodec.h"

namespace kv {

std::vector<std::wstring> LanguageStrings;

namespace {

// The English texts as they stand in the language files. Empty entries are
// reserved: they keep their index in the file format but no window uses them.
constexpr std::array<const wchar_t*, LanguageEntryCount> kDefaultTexts = {
    /* 000 */ L"Developer:",
    /* 001 */ L"Product Name:",
    /* 002 */ L"Program Version:",
    /* 003 */ L"Released on:",
    /* 004 */ L"Operating System:",
    /* 005 */ L"Official Website:",
    /* 006 */ L"Support E-mail:",
    /* 007 */ L"",
    /* 008 */ L"",
    /* 009 */ L"Application Info",
    /* 010 */ L"Details",
    /* 011 */ L"Clean Options",
    /* 012 */ L"Size",
    /* 013 */ L"Pop-Up Menu",
    /* 014 */ L"File Name",
    /* 015 */ L"Location",
    /* 016 */ L"Modified",
    /* 017 */ L"Filter Name",
    /* 018 */ L"Type",
    /* 019 */ L"Description",
    /* 020 */ L"Path",
    /* 021 */ L"Capacity",
    /* 022 */ L"Free Space",
    /* 023 */ L"Yes",
    /* 024 */ L"Clean Windows Recycle Bin",
    /* 025 */ L"Clean Windows Temp Folder",
    /* 026 */ L"Clean User Define Temp Folder",
    /* 027 */ L"Clean Windows Cookies Folder",
    /* 028 */ L"Clean Temporary Internet Files Folder",
    /* 029 */ L"Clean Windows History Folder",
    /* 030 */ L"Clean Recent Documents Folder",
    /* 031 */ L"Clean Registry - Program History",
    /* 032 */ L"Clean Registry - Windows Tracks",
    /* 033 */ L"Send files to the Recycle Bin",
    /* 034 */ L"Send files to the User Defined Folder",
    /* 035 */ L"Delete files PERMANENTLY",
    /* 036 */ L"Cookies Manager",
    /* 037 */ L"&Select All",
    /* 038 */ L"&Deselect All",
    /* 039 */ L"WinZip File Menu",
    /* 040 */ L"WinZip Extract To Menu",
    /* 041 */ L"Word Pad Recent File Menu",
    /* 042 */ L"Paint Recent File Menu",
    /* 043 */ L"Media Player Recent File/URL Menu",
    /* 044 */ L"RealPlayer Most Recent Clips",
    /* 045 */ L"RealPlayer Open Location Clips",
    /* 046 */ L"Recent Items from Run Menu",
    /* 047 */ L"Find Files or Folders Menu",
    /* 048 */ L"Find Files Containing Text Menu",
    /* 049 */ L"All Typed Web Addresses",
    /* 050 */ L"&Edit this Filter",
    /* 051 */ L"&Add a Filter",
    /* 052 */ L"&Delete this Filter",
    /* 053 */ L"Reset List",
    /* 054 */ L"Filter Options",
    /* 055 */ L"Find Invalid Shortcut files",
    /* 056 */ L"Skip read only and system files",
    /* 057 */ L"File Removal",
    /* 058 */ L"Also clean sub-folders",
    /* 059 */ L"Cleaning Progress",
    /* 060 */ L"",
    /* 061 */ L"Add a folder that will be scanned",
    /* 062 */ L"Add a folder that will NOT be scanned",
    /* 063 */ L"Add a folder that will be emptied every time",
    /* 064 */ L"&Open Containing Folder",
    /* 065 */ L"Size All Columns to Fit",
    /* 066 */ L"&Clear Result (will not delete actual files)",
    /* 067 */ L"P&roperties",
    /* 068 */ L"Kestrelvane Help",
    /* 069 */ L"Kestrelvane Home Page",
    /* 070 */ L"Check For Update",
    /* 071 */ L"",
    /* 072 */ L"",
    /* 073 */ L"Close",
    /* 074 */ L"Language",
    /* 075 */ L"Are you sure you would like to exit from Kestrelvane?",
    /* 076 */ L"Receiving version information from update server ...",
    /* 077 */ L"New version of Kestrelvane found! Do you want to update to the %s version now?",
    /* 078 */ L"Congratulations, your copy is up to date with the latest version!",
    /* 079 */ L"Unable to connect to the update server. Please ensure you are connected to the Internet, or try again later.",
    /* 080 */ L"Sending files to the Recycle bin...",
    /* 081 */ L"Selected files have been sent to the Recycle Bin successfully!",
    /* 082 */ L"Recycle Bin : <OK>",
    /* 083 */ L"Cleaning Recycle Bin ...",
    /* 084 */ L"Are you sure you would like to remove the selected files from your hard disk immediately?",
    /* 085 */ L"Cleaning junk files ...",
    /* 086 */ L"Delete junk files : <OK>!",
    /* 087 */ L"Sending files to the User Defined Backup Folder ...",
    /* 088 */ L"Move junk files to the User Defined Backup Folder : <OK>",
    /* 089 */ L"No junk file was selected from Scan panel",
    /* 090 */ L"Cleaning Temp Folder ...",
    /* 091 */ L"Temp Folder : <OK>",
    /* 092 */ L"Cleaning User Defined Temp Folder...",
    /* 093 */ L"User Defined Temp Folder : <OK>",
    /* 094 */ L"Cleaning Cookies Folder ...",
    /* 095 */ L"Cookies Folder : <OK>",
    /* 096 */ L"Cleaning Recent Folder ...",
    /* 097 */ L"Recent Folder : <OK>",
    /* 098 */ L"Cleaning History Folder ...",
    /* 099 */ L"History Folder : <OK> (need reboot)",
    /* 100 */ L"Cleaning Temporary Internet Files ...",
    /* 101 */ L"Temporary Internet Files : <OK> (need reboot)",
    /* 102 */ L"Registry - Program History : <OK>",
    /* 103 */ L"Registry - Windows Tracks : <OK>",
    /* 104 */ L"This filter you specified already exists, please specify a different one.",
    /* 105 */ L"Kestrelvane will reset the filters to factory default. Continue?",
    /* 106 */ L"Total amount disk space you will gain: %s",
    /* 107 */ L"Scanning  %s%s\\",
    /* 108 */ L"Analyzing...",
    /* 109 */ L"Your hard disk has been cleaned up successfully!",
    /* 110 */ L"Send files to the Recycle Bin",
    /* 111 */ L"Send files to the User Defined Backup Folder",
    /* 112 */ L"Delete files permanently",
    /* 113 */ L"--- Remove the check next to the file(s) you want to keep, then click <Clean> button on the left ---",
    /* 114 */ L"Some options for Kestrelvane...",
    /* 115 */ L"This will show useful information about Kestrelvane, including version and support information",
    /* 116 */ L"Double-click on the customize path to edit it",
    /* 117 */ L"Right-click on the filter to edit it",
    /* 118 */ L"Click <Scan Now> button on the right",
    /* 119 */ L"Place a check mark next to the options you want to clean, click <Clean Now> button on the right",
    /* 120 */ L"Add an item",
    /* 121 */ L"Delete an item",
    /* 122 */ L"Scan Now",
    /* 123 */ L"Abort Scan",
    /* 124 */ L"Clean Now",
    /* 125 */ L"<Path Panel>",
    /* 126 */ L"<Filters Panel>",
    /* 127 */ L"<Scan Panel>",
    /* 128 */ L"<Clean Panel>",
    /* 129 */ L"Show Kestrelvane Help",
    /* 130 */ L"Visit Kestrelvane's Home Page.",
    /* 131 */ L"This feature will help you to check for a new version of Kestrelvane on our server.",
    /* 132 */ L"Add a customize path",
    /* 133 */ L"Delete a customize path",
    /* 134 */ L"Add a filter",
    /* 135 */ L"Delete selected filter",
    /* 136 */ L"Bytes",
    /* 137 */ L"Restore",
    /* 138 */ L"Check all",
    /* 139 */ L"Remove all marks",
    /* 140 */ L"About",
    /* 141 */ L"Welcome to Kestrelvane!",
    /* 142 */ L"Filters",
    /* 143 */ L"Scan",
    /* 144 */ L"Clean",
    /* 145 */ L"Warning",
    /* 146 */ L"",
    /* 147 */ L"Kestrelvane - List of files to delete",
    /* 148 */ L"[Aborted]",
    /* 149 */ L"Edit current type of files",
    /* 150 */ L"WORKING...",
    /* 151 */ L"Select a Folder",
    /* 152 */ L"New Version",
    /* 153 */ L"Can not find the backup file, please specify the correct backup folder!",
    /* 154 */ L"Failed to load Shell32.dll.",
    /* 155 */ L"Cookies will be deleted:",
    /* 156 */ L"Cookies will not be deleted:",
    /* 157 */ L"What type of filter would you like to create?",
    /* 158 */ L"Input your customize type of files (e.g. *.jnk)",
    /* 159 */ L"Description for files of this type (optional)",
    /* 160 */ L"&Save",
    /* 161 */ L"&Cancel",
    /* 162 */ L"Specify a folder",
    /* 163 */ L"Kestrelvane will move the junk files to the Backup Folder below",
    /* 164 */ L"Deletion List File",
    /* 165 */ L"Backup files have been restored successfully!",
    /* 166 */ L"Edit File Name",
    /* 167 */ L"OK",
    /* 168 */ L"Cancel",
    /* 169 */ L"",
    /* 170 */ L"",
    /* 171 */ L"",
    /* 172 */ L"",
    /* 173 */ L"",
    /* 174 */ L"",
    /* 175 */ L"",
    /* 176 */ L"",
    /* 177 */ L"",
    /* 178 */ L"",
    /* 179 */ L"Do Save",
    /* 180 */ L"Don't Save",
    /* 181 */ L"Save Setting",
    /* 182 */ L"",
    /* 183 */ L"",
    /* 184 */ L"",
    /* 185 */ L"",
    /* 186 */ L"",
    /* 187 */ L"",
    /* 188 */ L"Restore files from User Defined Folder",
    /* 189 */ L"Select your language skin!",
    /* 190 */ L"[Finished]",
    /* 191 */ L"Searching ...",
    /* 192 */ L"&Save Result",
    /* 193 */ L"This will clear all search result from the list (not the actual files)! Continue?",
    /* 194 */ L"Kestrelvane will export its settings to a Windows Registry File.<BR><BR>To re-import these settings, all you need to do is double click on <BR>the .REG file from within Windows Explorer while Kestrelvane is closed.",
    /* 195 */ L"Settings exported successfully",
    /* 196 */ L"Export Settings",
    /* 197 */ L"This folder will not be scanned next time.",
    /* 198 */ L"This file will not be listed next time.",
    /* 199 */ L"Exclude...",
    /* 200 */ L"Exclude this File",
    /* 201 */ L"Exclude this Location",
    /* 202 */ L"Click Yes to Continue. Click No to Cancel.",
    /* 203 */ L"",
    /* 204 */ L"To import the settings, Kestrelvane needs to close now. Click OK to continue, click Cancel if you do not want to import this backup file",
    /* 205 */ L"Import Settings",
    /* 206 */ L"Copy Information",
    /* 207 */ L"File Name",
    /* 208 */ L"Location",
    /* 209 */ L"File Name && Location",
    /* 210 */ L"&Include",
    /* 211 */ L"&Exclude",
    /* 212 */ L"Kestrelvane will save current settings as a task file. For automatic execution double click the .kv file you saved.If you checked Run background then Kestrelvane will Scan &&Clean automatically in the background!",
    /* 213 */ L"A task file has been created successfully!<BR><BR>File name: %s",
    /* 214 */ L"Create a Task File",
    /* 215 */ L"Automate Scan",
    /* 216 */ L"Automate Clean",
    /* 217 */ L"Automate Close",
    /* 218 */ L"What the task will do when it is started up",
    /* 219 */ L"",
    /* 220 */ L"",
    /* 221 */ L"Run Background",
    /* 222 */ L"Add / Edit a customize folder",
    /* 223 */ L"Include subfolders",
    /* 224 */ L"Select...",
    /* 225 */ L"Empty",
    /* 226 */ L"Action",
    /* 227 */ L"Check selected",
    /* 228 */ L"Uncheck selected",
    /* 229 */ L"UltraEdit Find / Replace History",
    /* 230 */ L"UltraEdit Recent File History",
    /* 231 */ L"UltraEdit Recent Project History",
    /* 232 */ L"Always show balloon tips",
    /* 233 */ L"Click here to start cleaning junk files!",
    /* 234 */ L"Click here to start scanning junk files!",
    /* 235 */ L"Find Empty Folders",
    /* 236 */ L"Please make sure there is no valuable files in <BR><BR>%s<BR><BR>and<BR><BR>%s<BR><BR>Checking this box ON will let Kestrelvane empty these two folders when you click Clean Now button!<BR>Right-click on this item and select Open Temp Folders to verify!",
    /* 237 */ L"Open Temp Folders",
    /* 238 */ L"Cleaning FireFox Cache...",
    /* 239 */ L"FireFox Cache : <OK>",
    /* 240 */ L"Cleaning FireFox History...",
    /* 241 */ L"FireFox History : <OK>",
    /* 242 */ L"Cleaning FireFox Cookies...",
    /* 243 */ L"FireFox Cookies : <OK>",
    /* 244 */ L"Clean FireFox cache",
    /* 245 */ L"Clean FireFox history",
    /* 246 */ L"Clean FireFox cookies",
    /* 247 */ L"Add a cookie name which you do not want to delete",
    /* 248 */ L"%s - %d Inclusive Filters (%d selected), %d Exclusive Filters (%d selected)",
    /* 249 */ L"WinRar Recent File Menu",
    /* 250 */ L"Filter",
    /* 251 */ L"Label",
    /* 252 */ L"Exclude this filter",
    /* 253 */ L"",
    /* 254 */ L"The following path does not exist, the junk files can not be moved.<BR><BR>\"%s\"<BR><BR>Do you want to correct it now?",
};

// No translation comes near this; anything bigger is not a language file.
constexpr std::size_t kMaxLanguageFileSize = 16 * 1024 * 1024;

constexpr std::wstring_view kLineBreakMarker = L"<BR>";

std::wstring EntryKey(int index) { return Format(L"%.4d", {index}); }

bool HasByteOrderMark(std::string_view bytes)
{
    for (const std::string_view mark : {std::string_view("\xEF\xBB\xBF"), std::string_view("\xFF\xFE"),
                                        std::string_view("\xFE\xFF")})
        if (bytes.substr(0, mark.size()) == mark) return true;
    return false;
}

// [Info] CodePage of a file without byte-order mark. The section and key are
// plain ASCII in every code page a language file may use, so the bytes are
// read one character each to find it, before the code page is known.
long long DeclaredCodePage(std::string_view bytes)
{
    std::wstring widened(bytes.size(), L'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) widened[i] = static_cast<unsigned char>(bytes[i]);
    return IniFile(widened).ReadInteger(L"Info", L"CodePage", 0);
}

std::optional<std::wstring> DecodeWithCodePage(std::string_view bytes, long long codePage)
{
    if (codePage <= 0 || codePage > 0xFFFF || !::IsValidCodePage(static_cast<UINT>(codePage))) return std::nullopt;
    std::wstring text = MultiByteToWide(bytes, static_cast<UINT>(codePage));
    // Bytes never decode to nothing: an empty result is the conversion failing.
    if (text.empty() && !bytes.empty()) return std::nullopt;
    return text;
}

std::optional<std::string> ReadLanguageBytes(const std::wstring& path)
{
    if (path.empty() || FileSizeOf(path) > static_cast<std::int64_t>(kMaxLanguageFileSize)) return std::nullopt;
    return ReadWholeFile(path);
}

} // namespace

void ReplaceLineBreakMarkers(std::wstring& text)
{
    std::size_t at = text.find(kLineBreakMarker);
    if (at == std::wstring::npos) return;
    // One pass into a new text: replacing in place moves the rest of the text
    // at every marker, and a language file may hold millions of them.
    std::wstring result;
    result.reserve(text.size());
    std::size_t from = 0;
    for (; at != std::wstring::npos; at = text.find(kLineBreakMarker, from)) {
        result.append(text, from, at - from);
        result += L'\n';
        from = at + kLineBreakMarker.size();
    }
    result.append(text, from, std::wstring::npos);
    text = std::move(result);
}

namespace {

std::wstring UnicodeCopyPath() { return LanguageFolder() + L"Unicode.txt"; }

} // namespace

const std::wstring& LanguageText(int index)
{
    static const std::wstring none;
    if (index < 0 || static_cast<std::size_t>(index) >= LanguageStrings.size()) return none;
    return LanguageStrings[static_cast<std::size_t>(index)];
}

std::wstring_view DefaultLanguageText(int index)
{
    if (index < 0 || index >= LanguageEntryCount) return {};
    return kDefaultTexts[static_cast<std::size_t>(index)];
}

std::wstring EnglishLanguageText(int index)
{
    std::wstring text(DefaultLanguageText(index));
    ReplaceLineBreakMarkers(text);
    return text;
}

std::wstring LanguageFolder() { return ProgramFolder + L"Language\\"; }

std::wstring LanguageTemplatePath() { return LanguageFolder() + L"Template.ini"; }

void LoadDefaultLanguage()
{
    LanguageStrings.resize(LanguageEntryCount);
    for (int i = 0; i < LanguageEntryCount; ++i) LanguageStrings[static_cast<std::size_t>(i)] = DefaultLanguageText(i);
}

bool WriteLanguageTemplate()
{
    LoadDefaultLanguage();
    CreateFolderPath(LanguageFolder());
    std::wstring text = L"[Info]\r\nLanguage=English\r\n[Strings]\r\n";
    for (int i = 0; i < LanguageEntryCount; ++i) {
        text += EntryKey(i);
        text += L'=';
        text += LanguageText(i);
        text += L"\r\n";
    }
    return ReplaceOwnFile(LanguageTemplatePath(), WideToAnsi(text));
}

std::optional<IniFile> DecodeLanguageFile(std::string_view bytes)
{
    if (HasByteOrderMark(bytes)) return IniFile(DecodeText(bytes));
    const long long codePage = DeclaredCodePage(bytes);
    if (codePage == 0) return IniFile(AnsiToWide(bytes));
    const std::optional<std::wstring> text = DecodeWithCodePage(bytes, codePage);
    if (!text) return std::nullopt;
    return IniFile(*text);
}

std::optional<IniFile> ReadLanguageFile(const std::wstring& path)
{
    const std::optional<std::string> bytes = ReadLanguageBytes(path);
    if (!bytes) return std::nullopt;
    return DecodeLanguageFile(*bytes);
}

bool ConvertLanguageFile(const std::wstring& path)
{
    const std::optional<std::string> bytes = ReadLanguageBytes(path);
    if (!bytes || HasByteOrderMark(*bytes)) return false;
    const long long codePage = DeclaredCodePage(*bytes);
    if (codePage == 0) return false;
    const std::optional<std::wstring> text = DecodeWithCodePage(*bytes, codePage);
    return text && ReplaceOwnUnicodeFile(UnicodeCopyPath(), *text);
}

void LoadLanguage(const std::wstring& path)
{
    LoadDefaultLanguage();
    if (const std::optional<IniFile> file = ReadLanguageFile(path)) {
        for (int i = 0; i < LanguageEntryCount; ++i) {
            std::optional<std::wstring> value = file->Read(L"Strings", EntryKey(i));
            if (value && !value->empty()) LanguageStrings[static_cast<std::size_t>(i)] = std::move(*value);
        }
    }
    for (std::wstring& text : LanguageStrings) ReplaceLineBreakMarkers(text);
    // Older versions decoded code-page files through this intermediate copy
    // and could leave it behind.
    RemoveOwnFile(UnicodeCopyPath());
}

// ---------------------------------------------------------------------------
// Pushing the table into a window

void ApplyLanguageTable(std::span<const LanguageBinding> table, LanguageTarget& target)
{
    for (const LanguageBinding& binding : table) target.SetLanguageText(binding, LanguageText(binding.entry));
}

namespace {

constexpr LanguageBinding Caption(const wchar_t* control, int entry)
{
    return {control, LanguageSlot::Caption, entry};
}
constexpr LanguageBinding Hint(const wchar_t* control, int entry) { return {control, LanguageSlot::Hint, entry}; }
constexpr LanguageBinding ColumnTitle(const wchar_t* control, int column, int entry)
{
    return {control, LanguageSlot::ColumnTitle, entry, -1, column};
}
constexpr LanguageBinding RowCaption(const wchar_t* control, int row, int entry)
{
    return {control, LanguageSlot::RowCaption, entry, row};
}
constexpr LanguageBinding RowText(const wchar_t* control, int row, int column, int entry)
{
    return {control, LanguageSlot::RowText, entry, row, column};
}

constexpr LanguageBinding kMainWindowTable[] = {
    // About page
    ColumnTitle(L"AppInfoListView", 0, 9),
    ColumnTitle(L"AppInfoListView", 1, 10),
    RowCaption(L"AppInfoListView", 0, 0),
    RowCaption(L"AppInfoListView", 1, 1),
    RowCaption(L"AppInfoListView", 2, 2),
    RowCaption(L"AppInfoListView", 3, 3),
    RowCaption(L"AppInfoListView", 4, 4),
    RowCaption(L"AppInfoListView", 5, 5),
    RowCaption(L"AppInfoListView", 6, 6),
    // List columns
    ColumnTitle(L"PathListView", 0, 20),
    ColumnTitle(L"PathListView", 1, 251),
    ColumnTitle(L"PathListView", 2, 21),
    ColumnTitle(L"PathListView", 3, 22),
    ColumnTitle(L"FiltersListView", 1, 17),
    ColumnTitle(L"FiltersListView", 2, 18),
    ColumnTitle(L"FiltersListView", 3, 19),
    ColumnTitle(L"ScanListView", 0, 14),
    ColumnTitle(L"ScanListView", 1, 15),
    ColumnTitle(L"ScanListView", 2, 12),
    ColumnTitle(L"ScanListView", 3, 16),
    ColumnTitle(L"ScanListView", 4, 250),
    ColumnTitle(L"CleanListView", 0, 11),
    ColumnTitle(L"CleanListView", 1, 12),
    ColumnTitle(L"CleanListView", 2, 13),
    // Clean list rows, in TCleanTarget order
    RowCaption(L"CleanListView", 0, 110),
    RowCaption(L"CleanListView", 1, 24),
    RowCaption(L"CleanListView", 2, 25),
    RowCaption(L"CleanListView", 3, 26),
    RowCaption(L"CleanListView", 4, 27),
    RowCaption(L"CleanListView", 5, 28),
    RowCaption(L"CleanListView", 6, 29),
    RowCaption(L"CleanListView", 7, 30),
    RowCaption(L"CleanListView", 8, 31),
    RowCaption(L"CleanListView", 9, 32),
    RowCaption(L"CleanListView", 10, 244),
    RowCaption(L"CleanListView", 11, 245),
    RowCaption(L"CleanListView", 12, 246),
    RowText(L"CleanListView", 0, 2, 23),
    RowText(L"CleanListView", 2, 2, 23),
    RowText(L"CleanListView", 4, 2, 23),
    RowText(L"CleanListView", 8, 2, 23),
    RowText(L"CleanListView", 9, 2, 23),
    // Scan-list popup
    Caption(L"OpenContainingFolderMenuItem", 64),
    Caption(L"AutoResizePopupMenuButton", 65),
    Caption(L"MiCheckSelected", 227),
    Caption(L"MiUncheckSelected", 228),
    Caption(L"ClearAllPopupMenuButton", 66),
    Caption(L"SaveListPopupMenuButton", 192),
    Caption(L"PropertiesMenuItem", 67),
    Caption(L"ExcludePopupMenuButton", 199),
    Caption(L"ExcludeFileMenuButton", 200),
    Caption(L"ExcludeContainingFolderMenuButton", 201),
    Caption(L"MiExcludeFilter", 252),
    Caption(L"CopyMenu", 206),
    Caption(L"CopyFileNameMenuItem", 207),
    Caption(L"CopyLocationMenuItem", 208),
    Caption(L"CopyFileNameLocationMenuItem", 209),
    // Options menu
    Caption(L"OptionsCookiesManagerMenuItem", 36),
    Caption(L"OptionsFilterMenuItem", 54),
    Caption(L"OptionsFindBrokenLinkFilesMenuItem", 55),
    Caption(L"OptionsFindEmptyFolderMenuItem", 235),
    Caption(L"OptionsSkipReadOnlyAndSystemFilesMenuItem", 56),
    Caption(L"OptionsFileRemovalMenuItem", 57),
    Caption(L"OptionsRecycleBinMenuItem", 33),
    Caption(L"OptionsSpecificFolderMenuItem", 34),
    Caption(L"RestorefilesfromSpecificFolder", 188),
    Caption(L"OptionsDeletePermanentlyMenuItem", 35),
    Caption(L"OptionsLanguageMenuItem", 74),
    Caption(L"OptionsExportSettingMenuItem", 196),
    Caption(L"OptionsImportSettingMenuItem", 205),
    Caption(L"OptionsCreateJobFileMenuItem", 214),
    // Path popup
    Caption(L"InclusionFolderMenuItem", 61),
    Caption(L"ExclusionFolderMenuItem", 62),
    Caption(L"EmptyFolderMenuItem", 63),
    // Filter popup
    Caption(L"EditaFilterMenuItem", 50),
    Caption(L"AddFilterMenuItem", 51),
    Caption(L"RemoveFilterMenuItem", 52),
    Caption(L"ResetListMenuItem", 53),
    Caption(L"CheckAllMenuItem", 37),
    Caption(L"RemoveAllMenuItem", 38),
    // Clean-list popups
    Caption(L"RecycleBinMenuItem", 33),
    Caption(L"SpecificFolderMenuItem", 34),
    Caption(L"DeletePermanentlyMenuItem", 35),
    Caption(L"AlsoCleanSubFolderMenuItem", 58),
    Caption(L"OpenTempFoldersMenuItem", 237),
    Caption(L"CookiesManagerMenuItem", 36),
    // Windows-tracks popup
    Caption(L"CleanRegistryTracksCheckAllMenuItem", 37),
    Caption(L"CleanRegistryTracksRemoveAllMenuItem", 38),
    Caption(L"RecentItemsfromRunMenuItem", 46),
    Caption(L"FindFilesMenuItem", 47),
    Caption(L"FindFilesContainingTextMenuItem", 48),
    Caption(L"AllTypedWebAddressesMenuItem", 49),
    // Program-history popup
    Caption(L"RegistryProgramCheckAllMenuItem", 37),
    Caption(L"RegistryProgramRemoveAllMenuItem", 38),
    Caption(L"CleanWinZipFileMenuItem", 39),
    Caption(L"CleanWinZipExtractMenuItem", 40),
    Caption(L"CleanWinRarFileMenuItem", 249),
    Caption(L"CleanWordPadRecentFileMenuItem", 41),
    Caption(L"CleanPaintRecentFileMenuItem", 42),
    Caption(L"CleanMediaPlayerRecentFileMenuItem", 43),
    Caption(L"RealPlayerMostRecentClipsMenuItem", 44),
    Caption(L"RealPlayerOpenLocationClipsMenuItem", 45),
    Caption(L"MiCleanUEFindHistory", 229),
    Caption(L"MiCleanUERecentFileList", 230),
    Caption(L"MiCleanUERecentProject", 231),
    // Hints
    Hint(L"AboutButton", 115),
    Hint(L"PathButton", 125),
    Hint(L"FiltersButton", 126),
    Hint(L"ScanButton", 127),
    Hint(L"CleanButton", 128),
    Hint(L"CheckAllButton", 138),
    Hint(L"RemoveAllButton", 139),
    Hint(L"StartButton", 122),
    Hint(L"StopButton", 123),
    Hint(L"CleanNowButton", 124),
    Hint(L"PathListView", 116),
    Hint(L"FiltersListView", 117),
    Hint(L"ScanListView", 118),
    Hint(L"CleanListView", 119),
    Hint(L"OptionsButton", 114),
    Hint(L"HelpButton", 68),
    // Help menu
    Caption(L"ContentsMenuItem", 68),
    Hint(L"ContentsMenuItem", 129),
    Caption(L"VisitHomepageMenuItem", 69),
    Hint(L"VisitHomepageMenuItem", 130),
    Caption(L"ShowBalloonTipsMenuItem", 232),
    Caption(L"CheckForUpdatesMenuItem", 70),
    Hint(L"CheckForUpdatesMenuItem", 131),
    Caption(L"HintLabel", 141),
};

} // namespace

std::span<const LanguageBinding> MainWindowLanguageTable() { return kMainWindowTable; }

void ApplyLanguage(MainWindowLanguageTarget& mainWindow)
{
    ApplyLanguageTable(MainWindowLanguageTable(), mainWindow);
    mainWindow.RefreshCurrentPage();
}

} // namespace kv
