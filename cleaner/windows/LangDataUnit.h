#pragma once
// The language table: 255 texts addressed by index, filled with the English
// defaults and overridden from a language file; the template file written for
// translators; and the tables that push the texts into a window's controls.
//
// Language files are INI text ("[Info] Language", "[Info] CodePage",
// "[Strings] 0000" to "0254"). Their encoding: a byte-order mark (UTF-8,
// UTF-16LE, UTF-16BE) wins; otherwise a non-zero [Info] CodePage names the
// code page; otherwise the ANSI code page.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/IniFile.h"

namespace kv {

constexpr int LanguageEntryCount = 255;

// Empty until the first fill; then exactly LanguageEntryCount texts. Filled
// and changed on the main thread only; the worker threads read it through
// synchronised calls.
extern std::vector<std::wstring> LanguageStrings;

// The text of one entry; empty for an index outside the table or before the
// first fill, so a caller can never index past the end.
const std::wstring& LanguageText(int index);

// The English text of an entry as it stands in the files (with "<BR>"
// markers); empty for reserved entries and indices outside the table.
std::wstring_view DefaultLanguageText(int index);
// The same text as a window shows it: "<BR>" markers as line feeds.
std::wstring EnglishLanguageText(int index);

// ProgramFolder + "Language\".
std::wstring LanguageFolder();
// LanguageFolder() + "Template.ini".
std::wstring LanguageTemplatePath();

// "<BR>" markers of a text made line feeds, as a loaded language has them.
void ReplaceLineBreakMarkers(std::wstring& text);

// Every entry back to its English default ("<BR>" markers kept).
void LoadDefaultLanguage();

// Rewrites Template.ini with every default, in the ANSI code page. False when
// the folder or the file cannot be written (a read-only program folder); the
// program goes on with its defaults then.
bool WriteLanguageTemplate();

// The bytes of a language file as INI text, decoded by the rules above.
// nullopt when the declared code page is unknown or cannot decode the bytes.
std::optional<IniFile> DecodeLanguageFile(std::string_view bytes);
// The file read and decoded; nullopt when it is missing, unreadable, too big
// for a language file, or cannot be decoded.
std::optional<IniFile> ReadLanguageFile(const std::wstring& path);

// For translators who want a code-page file as UTF-16: writes
// Language\Unicode.txt (UTF-16LE with byte-order mark) from a file that
// declares a code page and has no byte-order mark. False when there is nothing
// to convert, the code page is unknown or the file cannot be written.
bool ConvertLanguageFile(const std::wstring& path);

// Resets the table to English, then takes every non-empty [Strings] value of
// the file; "<BR>" becomes a line feed in every entry. A missing or
// undecodable file leaves English in place; nothing is thrown. A stale
// Language\Unicode.txt from older versions is deleted.
void LoadLanguage(const std::wstring& path);

// ---------------------------------------------------------------------------
// Pushing the table into a window

// What of a control a table row sets.
enum class LanguageSlot : std::uint8_t {
    Caption,     // caption or text of a control, menu item or label
    Hint,        // the control's hint
    ColumnTitle, // title of column `column` of a list view
    RowCaption,  // caption of row `row` of a list view
    RowText,     // text of column `column` of row `row` of a list view
};

// One row of a window's language table: the control is named as on its window.
struct LanguageBinding {
    const wchar_t* control;
    LanguageSlot slot;
    int entry;
    int row = -1;
    int column = -1;
};

// A window that takes texts from the language table implements this; each
// window keeps its own table of LanguageBinding rows beside its code and calls
// ApplyLanguageTable with it.
class LanguageTarget {
public:
    virtual void SetLanguageText(const LanguageBinding& binding, const std::wstring& text) = 0;

protected:
    ~LanguageTarget() = default;
};

void ApplyLanguageTable(std::span<const LanguageBinding> table, LanguageTarget& target);

// The main window: after its table, the page shown is entered again so that
// the page's own texts are set anew.
class MainWindowLanguageTarget : public LanguageTarget {
public:
    virtual void RefreshCurrentPage() = 0;

protected:
    ~MainWindowLanguageTarget() = default;
};

std::span<const LanguageBinding> MainWindowLanguageTable();
void ApplyLanguage(MainWindowLanguageTarget& mainWindow);

} // namespace kv
