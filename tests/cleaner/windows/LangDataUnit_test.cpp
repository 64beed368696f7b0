#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/LangDataUnit.h"
#include "common/TestSupport.h"
#include "platform/TextCodec.h"
#include "TemplateGolden.h"

namespace {

const std::set<int> kReservedEntries = {7,   8,   60,  71,  72,  146, 169, 170, 171, 172, 173, 174, 175,
                                        176, 177, 178, 182, 183, 184, 185, 186, 187, 203, 219, 220, 253};

std::string Utf16LeBytes(std::wstring_view text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::string Utf16BeBytes(std::wstring_view text)
{
    std::string bytes;
    for (const wchar_t c : text) {
        bytes += static_cast<char>(c >> 8);
        bytes += static_cast<char>(c & 0xFF);
    }
    return bytes;
}

// Every entry as it stands after a load of a file that changes nothing.
std::wstring LoadedDefault(int index)
{
    std::wstring text(kv::DefaultLanguageText(index));
    for (auto at = text.find(L"<BR>"); at != std::wstring::npos; at = text.find(L"<BR>", at + 1))
        text.replace(at, 4, L"\n");
    return text;
}

class LanguageFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedProgramFolder_ = kv::ProgramFolder;
        kv::ProgramFolder = kvtest::ScratchFolder(L"LangData");
        ::CreateDirectoryW(kv::LanguageFolder().c_str(), nullptr);
    }
    void TearDown() override { kv::ProgramFolder = savedProgramFolder_; }

    std::wstring Write(const wchar_t* name, std::string_view bytes)
    {
        const std::wstring path = kv::LanguageFolder() + name;
        kvtest::WriteBytes(path, bytes);
        return path;
    }

    // Every entry but `changed` holds its English text (line breaks applied).
    void ExpectEnglishExcept(int changed)
    {
        ASSERT_EQ(kv::LanguageStrings.size(), 255u);
        for (int i = 0; i < kv::LanguageEntryCount; ++i) {
            if (i == changed) continue;
            EXPECT_EQ(kv::LanguageText(i), LoadedDefault(i)) << "entry " << i;
        }
    }

private:
    std::wstring savedProgramFolder_;
};

TEST(LanguageTable, DefaultsHold255EntriesWithTheReservedOnesEmpty)
{
    kv::LoadDefaultLanguage();
    ASSERT_EQ(kv::LanguageStrings.size(), 255u);
    for (int i = 0; i < kv::LanguageEntryCount; ++i)
        EXPECT_EQ(kv::LanguageStrings[i].empty(), kReservedEntries.count(i) == 1) << "entry " << i;
    EXPECT_EQ(kv::LanguageText(0), L"Developer:");
    EXPECT_EQ(kv::LanguageText(107), L"Scanning  %s%s\\");
    EXPECT_EQ(kv::LanguageText(209), L"File Name && Location");
    EXPECT_NE(kv::LanguageText(194).find(L"<BR><BR>To re-import"), std::wstring::npos);
}

TEST(LanguageTable, IndicesOutsideTheTableReadAsEmpty)
{
    kv::LoadDefaultLanguage();
    EXPECT_EQ(kv::LanguageText(-1), L"");
    EXPECT_EQ(kv::LanguageText(255), L"");
    EXPECT_EQ(kv::DefaultLanguageText(1000), L"");
}

TEST_F(LanguageFiles, TemplateMatchesTheGoldenFileByteForByte)
{
    kvtest::WriteBytes(kv::LanguageTemplatePath(), "an older template that is longer than nothing");
    ASSERT_TRUE(kv::WriteLanguageTemplate());
    const std::string bytes = kvtest::ReadBytes(kv::LanguageTemplatePath());
    EXPECT_EQ(bytes, std::string(kTemplateGolden));
    std::size_t lines = 0;
    for (std::size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, 258u);
}

TEST_F(LanguageFiles, TemplateCreatesTheLanguageFolder)
{
    ::RemoveDirectoryW(kv::LanguageFolder().c_str());
    ASSERT_TRUE(kv::WriteLanguageTemplate());
    EXPECT_TRUE(kvtest::PathExists(kv::LanguageTemplatePath()));
}

TEST_F(LanguageFiles, TemplateThatCannotBeWrittenIsReportedNotThrown)
{
    // "Language" is a file here, so neither the folder nor the template can exist.
    ::RemoveDirectoryW(kv::LanguageFolder().c_str());
    kvtest::WriteBytes(kv::ProgramFolder + L"Language", "in the way");
    EXPECT_FALSE(kv::WriteLanguageTemplate());
    EXPECT_EQ(kv::LanguageText(141), L"Welcome to Kestrelvane!");
    kv::LoadLanguage(kv::LanguageTemplatePath());
    ExpectEnglishExcept(-1);
}

TEST_F(LanguageFiles, OneKeyChangesOneEntryAndTheNextLoadStartsFromEnglish)
{
    const std::wstring first = Write(L"first.ini", "[Strings]\r\n0141=Willkommen!\r\n");
    const std::wstring second = Write(L"second.ini", "[Strings]\r\n0142=Filter\xE4\r\n");

    kv::LoadLanguage(first);
    EXPECT_EQ(kv::LanguageText(141), L"Willkommen!");
    ExpectEnglishExcept(141);

    kv::LoadLanguage(second);
    EXPECT_EQ(kv::LanguageText(141), L"Welcome to Kestrelvane!");
    EXPECT_EQ(kv::LanguageText(142), kv::AnsiToWide("Filter\xE4"));
    ExpectEnglishExcept(142);
}

struct EncodingCase {
    const char* name;
    std::string bytes;
    std::wstring expected141;
};

class LanguageEncodings : public LanguageFiles, public ::testing::WithParamInterface<EncodingCase> {};

const std::wstring kRussian = L"\u0414\u043e\u0431\u0440\u043e \u043f\u043e\u0436\u0430\u043b\u043e\u0432\u0430\u0442\u044c";
// The comment line first: a reader that missed the mark would still find CodePage.
const std::wstring kWideFile = L"; Russian\r\n[Info]\r\nLanguage=Russian\r\nCodePage=1251\r\n[Strings]\r\n0141=" + kRussian + L"\r\n";

TEST_P(LanguageEncodings, DecodesByMarkThenDeclaredCodePageThenAnsi)
{
    const std::wstring path = Write(L"lang.ini", GetParam().bytes);
    kv::LoadLanguage(path);
    EXPECT_EQ(kv::LanguageText(141), GetParam().expected141);
    ExpectEnglishExcept(141);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LanguageEncodings,
    ::testing::Values(
        EncodingCase{"cp1251",
                     "[Info]\r\nLanguage=Russian\r\nCodePage=1251\r\n[Strings]\r\n"
                     "0141=\xC4\xEE\xE1\xF0\xEE \xEF\xEE\xE6\xE0\xEB\xEE\xE2\xE0\xF2\xFC\r\n",
                     kRussian},
        // The marks win over the declared 1251, which would garble these bytes.
        EncodingCase{"utf16le", "\xFF\xFE" + Utf16LeBytes(kWideFile), kRussian},
        EncodingCase{"utf16be", "\xFE\xFF" + Utf16BeBytes(kWideFile), kRussian},
        EncodingCase{"utf8", "\xEF\xBB\xBF" + kv::WideToUtf8(kWideFile), kRussian},
        EncodingCase{"ansi", "[Strings]\r\n0141=Caf\xE9\r\n", kv::AnsiToWide("Caf\xE9")},
        EncodingCase{"codepage0", "[Info]\r\nCodePage=0\r\n[Strings]\r\n0141=Caf\xE9\r\n", kv::AnsiToWide("Caf\xE9")},
        EncodingCase{"notanumber", "[Info]\r\nCodePage=cyrillic\r\n[Strings]\r\n0141=Hi\r\n", L"Hi"},
        // An unknown code page keeps English instead of failing every later start.
        EncodingCase{"cp12345", "[Info]\r\nCodePage=12345\r\n[Strings]\r\n0141=Hi\r\n", L"Welcome to Kestrelvane!"},
        EncodingCase{"cpnegative", "[Info]\r\nCodePage=-1\r\n[Strings]\r\n0141=Hi\r\n", L"Welcome to Kestrelvane!"},
        EncodingCase{"empty", "[Strings]\r\n0141=\r\n", L"Welcome to Kestrelvane!"},
        EncodingCase{"blank", "[Strings]\r\n0141=   \t\r\n", L"Welcome to Kestrelvane!"},
        EncodingCase{"quoted", "[Strings]\r\n0141=\"  padded  \"\r\n", L"  padded  "},
        EncodingCase{"linebreaks", "[Strings]\r\n0141=A<BR>B<BR><BR>C\r\n", L"A\nB\n\nC"},
        EncodingCase{"emptyfile", "", L"Welcome to Kestrelvane!"},
        EncodingCase{"oddutf16", "\xFF\xFE" + Utf16LeBytes(L"[Strings]\r\n0141=Odd") + "\x41", L"Odd"},
        EncodingCase{"binary", std::string("\x00\x01[Strings]\x00\r\n0141\xFF\xFE=\x00", 20), L"Welcome to Kestrelvane!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LanguageFiles, LineBreakMarkersOfDefaultsBecomeLineFeedsAfterAnyLoad)
{
    kv::LoadLanguage(Write(L"one.ini", "[Strings]\r\n0141=x\r\n"));
    EXPECT_EQ(kv::LanguageText(194).find(L"<BR>"), std::wstring::npos);
    EXPECT_NE(kv::LanguageText(194).find(L"File.\n\nTo re-import"), std::wstring::npos);
    EXPECT_NE(kv::LanguageText(254).find(L"moved.\n\n\"%s\"\n\nDo you"), std::wstring::npos);
}

// A language file may hold millions of markers: the replacement is one pass
// (in place it moved the rest of the text at each marker).
TEST(LanguageTable, LineBreakMarkersAreReplacedInOnePass)
{
    std::wstring text;
    for (int i = 0; i < 400000; ++i) text += L"<BR>";
    kv::ReplaceLineBreakMarkers(text);
    EXPECT_EQ(text, std::wstring(400000, L'\n'));
    std::wstring mixed = L"A<BR>B<BR><BR>C<BR<BR>>";
    kv::ReplaceLineBreakMarkers(mixed);
    EXPECT_EQ(mixed, L"A\nB\n\nC<BR\n>");
}

TEST_F(LanguageFiles, MissingFileLeavesEnglish)
{
    kv::LoadLanguage(kv::LanguageFolder() + L"gone.ini");
    ExpectEnglishExcept(-1);
    kv::LoadLanguage(L"");
    ExpectEnglishExcept(-1);
}

TEST_F(LanguageFiles, LoadDeletesAStaleUnicodeCopy)
{
    const std::wstring stale = kv::LanguageFolder() + L"Unicode.txt";
    kvtest::WriteBytes(stale, "\xFF\xFE");
    kv::LoadLanguage(Write(L"plain.ini", "[Strings]\r\n0001=Name:\r\n"));
    EXPECT_FALSE(kvtest::PathExists(stale));
    EXPECT_EQ(kv::LanguageText(1), L"Name:");
}

TEST_F(LanguageFiles, ConvertWritesTheUnicodeCopyOfACodePageFile)
{
    const std::wstring path = Write(L"ru.ini", "[Info]\r\nCodePage=1251\r\n[Strings]\r\n0141=\xC4\xEE\xE1\xF0\xEE\r\n");
    ASSERT_TRUE(kv::ConvertLanguageFile(path));
    const std::wstring copy = kv::LanguageFolder() + L"Unicode.txt";
    EXPECT_EQ(kvtest::ReadBytes(copy),
              "\xFF\xFE" + Utf16LeBytes(L"[Info]\r\nCodePage=1251\r\n[Strings]\r\n0141=\u0414\u043e\u0431\u0440\u043e\r\n"));

    kv::LoadLanguage(path);
    EXPECT_EQ(kv::LanguageText(141), L"\u0414\u043e\u0431\u0440\u043e");
    EXPECT_FALSE(kvtest::PathExists(copy));
}

TEST_F(LanguageFiles, ConvertDeclinesWhatNeedsNoOrAllowsNoConversion)
{
    EXPECT_FALSE(kv::ConvertLanguageFile(Write(L"ansi.ini", "[Info]\r\nLanguage=X\r\n")));
    EXPECT_FALSE(kv::ConvertLanguageFile(Write(L"zero.ini", "[Info]\r\nCodePage=0\r\n")));
    EXPECT_FALSE(kv::ConvertLanguageFile(Write(L"bad.ini", "[Info]\r\nCodePage=12345\r\n")));
    EXPECT_FALSE(kv::ConvertLanguageFile(Write(L"bom.ini", "\xEF\xBB\xBF[Info]\r\nCodePage=1251\r\n")));
    EXPECT_FALSE(kv::ConvertLanguageFile(kv::LanguageFolder() + L"gone.ini"));
    EXPECT_FALSE(kvtest::PathExists(kv::LanguageFolder() + L"Unicode.txt"));
}

// ---------------------------------------------------------------------------

class RecordingMainWindow : public kv::MainWindowLanguageTarget {
public:
    struct Call {
        kv::LanguageBinding binding;
        std::wstring text;
    };
    void SetLanguageText(const kv::LanguageBinding& binding, const std::wstring& text) override
    {
        EXPECT_FALSE(refreshed) << "texts set after the page was refreshed";
        calls.push_back({binding, text});
    }
    void RefreshCurrentPage() override { refreshed = true; }

    const std::wstring* TextOf(std::wstring_view control, kv::LanguageSlot slot, int row = -1, int column = -1) const
    {
        for (const Call& call : calls)
            if (call.binding.control == control && call.binding.slot == slot && call.binding.row == row &&
                call.binding.column == column)
                return &call.text;
        return nullptr;
    }

    std::vector<Call> calls;
    bool refreshed = false;
};

TEST_F(LanguageFiles, ApplyLanguageSetsEveryTextThenRefreshesThePage)
{
    kv::LoadLanguage(Write(L"de.ini", "[Strings]\r\n0110=Papierkorb\r\n0023=Ja\r\n0141=Willkommen\r\n0129=Hilfe<BR>zeigen\r\n"));
    RecordingMainWindow window;
    kv::ApplyLanguage(window);

    EXPECT_TRUE(window.refreshed);
    EXPECT_EQ(window.calls.size(), kv::MainWindowLanguageTable().size());
    using kv::LanguageSlot;
    auto expectText = [&](const wchar_t* control, LanguageSlot slot, int row, int column, const std::wstring& text) {
        const std::wstring* found = window.TextOf(control, slot, row, column);
        ASSERT_NE(found, nullptr) << "no text for " << kv::WideToUtf8(control);
        EXPECT_EQ(*found, text) << kv::WideToUtf8(control);
    };
    expectText(L"CleanListView", LanguageSlot::RowCaption, 0, -1, L"Papierkorb");
    for (const int row : {0, 2, 4, 8, 9}) expectText(L"CleanListView", LanguageSlot::RowText, row, 2, L"Ja");
    EXPECT_EQ(window.TextOf(L"CleanListView", LanguageSlot::RowText, 1, 2), nullptr);
    expectText(L"HintLabel", LanguageSlot::Caption, -1, -1, L"Willkommen");
    expectText(L"ContentsMenuItem", LanguageSlot::Hint, -1, -1, L"Hilfe\nzeigen");
    expectText(L"ContentsMenuItem", LanguageSlot::Caption, -1, -1, L"Kestrelvane Help");
    for (int row = 0; row <= 6; ++row)
        expectText(L"AppInfoListView", LanguageSlot::RowCaption, row, -1, std::wstring(kv::DefaultLanguageText(row)));
    expectText(L"ScanListView", LanguageSlot::ColumnTitle, -1, 4, L"Filter");
    expectText(L"PathListView", LanguageSlot::ColumnTitle, -1, 1, L"Label");
    expectText(L"MiExcludeFilter", LanguageSlot::Caption, -1, -1, L"Exclude this filter");
    expectText(L"CleanWinRarFileMenuItem", LanguageSlot::Caption, -1, -1, L"WinRar Recent File Menu");
}

TEST(LanguageTable, MainWindowTableUsesOnlyTextEntriesAndSetsEachPlaceOnce)
{
    std::set<std::tuple<std::wstring, kv::LanguageSlot, int, int>> places;
    for (const kv::LanguageBinding& binding : kv::MainWindowLanguageTable()) {
        EXPECT_GE(binding.entry, 0);
        EXPECT_LT(binding.entry, kv::LanguageEntryCount);
        EXPECT_FALSE(kv::DefaultLanguageText(binding.entry).empty()) << "reserved entry " << binding.entry;
        EXPECT_TRUE(places.emplace(binding.control, binding.slot, binding.row, binding.column).second)
            << kv::WideToUtf8(binding.control) << " set twice";
    }
    EXPECT_EQ(places.size(), 129u); // every row of the main window's text table
}

} // namespace
