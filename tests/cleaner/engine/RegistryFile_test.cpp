#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/RegistryFile.h"
#include "common/RegistryTestSupport.h"
#include "common/TestSupport.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

namespace {

using kv::TRegistrySection;

constexpr wchar_t TestKey[] = L"Software\\Orbelune\\Kestrelvane\\RegistryFileTest";
constexpr wchar_t EvilKey[] = L"Software\\Evil";

// ---- Parsing

struct ParseCase {
    const char* name;
    std::string bytes;
    bool accepted;
    std::vector<TRegistrySection> sections;
};

class ParseRegistryFileTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseRegistryFileTest, Parses)
{
    const ParseCase& c = GetParam();
    const auto sections = kv::ParseRegistryFile(c.bytes);
    ASSERT_EQ(sections.has_value(), c.accepted) << c.name;
    if (!sections) return;
    ASSERT_EQ(sections->size(), c.sections.size()) << c.name;
    for (std::size_t i = 0; i < sections->size(); ++i) {
        EXPECT_EQ((*sections)[i].key, c.sections[i].key) << c.name;
        EXPECT_EQ((*sections)[i].remove, c.sections[i].remove) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseRegistryFileTest,
    ::testing::Values(
        ParseCase{"unicode", kvtest::UnicodeRegFile(L"[HKEY_CURRENT_USER\\A]\r\n\"x\"=\"[y]\"\r\n\r\n[-HKEY_CURRENT_USER\\B]\r\n"),
                  true, {{L"HKEY_CURRENT_USER\\A", false}, {L"HKEY_CURRENT_USER\\B", true}}},
        ParseCase{"ansi", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"x\"=dword:00000001\r\n", true,
                  {{L"HKEY_CURRENT_USER\\A", false}}},
        ParseCase{"blanks before a section and lone line ends", "REGEDIT4\n \t[HKCU\\A]\r[HKCU\\B]", true,
                  {{L"HKCU\\A", false}, {L"HKCU\\B", false}}},
        ParseCase{"comment is no section", "REGEDIT4\r\n;[HKEY_CURRENT_USER\\Evil]\r\n", true, {}},
        ParseCase{"key up to the last bracket", "REGEDIT4\r\n[HKCU\\A]x]\r\n", true, {{L"HKCU\\A]x", false}}},
        ParseCase{"section without closing bracket", "REGEDIT4\r\n[HKCU\\A\r\n", false, {}},
        ParseCase{"old 3.1 format", "REGEDIT\r\nHKEY_CLASSES_ROOT\\x = y\r\n", false, {}},
        ParseCase{"unicode header in an ANSI file", "Windows Registry Editor Version 5.00\r\n[HKCU\\A]\r\n", false,
                  {}},
        ParseCase{"UTF-8 byte-order mark", "\xEF\xBB\xBFREGEDIT4\r\n[HKCU\\A]\r\n", false, {}},
        ParseCase{"odd UTF-16 length", kvtest::UnicodeRegFile(L"[HKCU\\A]\r\n") + "x", false, {}},
        ParseCase{"NUL inside", kvtest::UnicodeRegFile(std::wstring(L"[HKCU\\A]\0[HKCU\\Evil]\r\n", 23)), false, {}},
        ParseCase{"empty", "", false, {}},
        ParseCase{"text file", "just some text\r\n", false, {}}));

struct WithinCase {
    const wchar_t* section;
    const wchar_t* allowed;
    bool within;
};

class IsKeyWithinTest : public ::testing::TestWithParam<WithinCase> {};

TEST_P(IsKeyWithinTest, Decides)
{
    const WithinCase& c = GetParam();
    EXPECT_EQ(kv::IsKeyWithin(c.section, c.allowed), c.within)
        << testing::PrintToString(std::wstring(c.section)) << " in " << testing::PrintToString(std::wstring(c.allowed));
}

constexpr wchar_t Product[] = L"Software\\Orbelune\\Kestrelvane";
constexpr wchar_t Job[] = L"Software\\Orbelune\\Kestrelvane\\Unicode\\Job";

INSTANTIATE_TEST_SUITE_P(
    Table, IsKeyWithinTest,
    ::testing::Values(WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune\\Kestrelvane", Product, true},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune\\Kestrelvane\\Unicode\\Filters", Product, true},
                      WithinCase{L"hkey_current_user\\SOFTWARE\\orbelune\\KESTRELVANE", Product, true},
                      WithinCase{L"HKCU\\Software\\Orbelune\\Kestrelvane\\Job", Product, true},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune\\KestrelvaneX", Product, false},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune\\Kestrelvane \\X", Product, false},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune", Product, false},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Evil", Product, false},
                      WithinCase{L"HKEY_LOCAL_MACHINE\\Software\\Orbelune\\Kestrelvane", Product, false},
                      WithinCase{L"HKEY_USERS\\S-1\\Software\\Orbelune\\Kestrelvane", Product, false},
                      WithinCase{L"HKEY_CURRENT_USER\\\\Software\\Orbelune\\Kestrelvane", Product, false},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune\\Kestrelvane\\", Product, false},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune\\Kestrelvane\\\\X", Product, false},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune\\Kestrelvan\u0131", Product, false},
                      WithinCase{L" HKEY_CURRENT_USER\\Software\\Orbelune\\Kestrelvane", Product, false},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune\\Kestrelvane\\Unicode\\Job\\Filters", Job,
                                 true},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune\\Kestrelvane\\Unicode\\Jobs", Job, false},
                      WithinCase{L"HKEY_CURRENT_USER\\Software\\Orbelune\\Kestrelvane\\Unicode", Job, false}));

// ---- Reading, importing and exporting through the registry editor

class RegistryFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = kvtest::ScratchFolder(L"RegistryFile");
        Clean();
    }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, TestKey);
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, EvilKey);
    }
    static void FillTestKey()
    {
        auto key = kv::RegistryKey::Create(HKEY_CURRENT_USER, TestKey);
        key.WriteString(L"Text", L"Caf\u00e9 \u65e5\u672c");
        key.WriteDword(L"Number", 0x12345678);
        const char binary[] = "\xFF\xFE\x31\x00";
        key.WriteBinary(L"List", binary, 4);
        kv::RegistryKey::Create(HKEY_CURRENT_USER, std::wstring(TestKey) + L"\\Sub\\Deeper").WriteDword(L"Flag", 1);
    }

    // A registry file of the given body, read and checked against TestKey.
    std::optional<kv::TRegistryFile> CheckedFile(const wchar_t* name, std::wstring_view body) const
    {
        const std::wstring file = folder_ + name;
        kvtest::WriteBytes(file, kvtest::UnicodeRegFile(body));
        return kv::ReadRegistryFile(file, {TestKey});
    }
    // Ours, but the registry cannot create it: a key name above 255 characters.
    std::optional<kv::TRegistryFile> FileThatCannotBeImported() const
    {
        return CheckedFile(L"long.reg", L"[HKEY_CURRENT_USER\\" + std::wstring(TestKey) + L"\\" +
                                            std::wstring(300, L'x') + L"]\r\n\"a\"=\"1\"\r\n");
    }

    std::wstring folder_;
};

TEST_F(RegistryFileTest, ExportEqualsRegExportOfTheSameKey)
{
    FillTestKey();
    const std::wstring ours = folder_ + L"ours.reg";
    const std::wstring theirs = folder_ + L"theirs.reg";
    ASSERT_TRUE(kv::ExportRegistryKey(TestKey, ours));
    ASSERT_EQ(kvtest::RunProcess(L"reg.exe export \"HKCU\\" + std::wstring(TestKey) + L"\" \"" + theirs + L"\" /y"), 0);
    const std::string bytes = kvtest::ReadBytes(ours);
    EXPECT_EQ(bytes, kvtest::ReadBytes(theirs));
    const auto sections = kv::ParseRegistryFile(bytes);
    ASSERT_TRUE(sections.has_value());
    ASSERT_EQ(sections->size(), 3u);
    EXPECT_EQ(sections->front().key, L"HKEY_CURRENT_USER\\" + std::wstring(TestKey));
}

TEST_F(RegistryFileTest, ExportOfAMissingKeyFailsAndLeavesNoOldFile)
{
    const std::wstring file = folder_ + L"old.reg";
    kvtest::WriteBytes(file, "an earlier export");
    EXPECT_FALSE(kv::ExportRegistryKey(TestKey, file));
    EXPECT_FALSE(kvtest::PathExists(file));
}

TEST_F(RegistryFileTest, ExportIntoAMissingFolderFails)
{
    FillTestKey();
    EXPECT_FALSE(kv::ExportRegistryKey(TestKey, folder_ + L"no such folder\\x.reg"));
}

TEST_F(RegistryFileTest, ExportedFileImportsBack)
{
    FillTestKey();
    const std::wstring file = folder_ + L"settings.reg";
    ASSERT_TRUE(kv::ExportRegistryKey(TestKey, file));
    kv::DeleteRegistryTree(HKEY_CURRENT_USER, TestKey);
    const auto checked = kv::ReadRegistryFile(file, {TestKey});
    ASSERT_TRUE(checked.has_value());
    ASSERT_TRUE(kv::ImportRegistryFile(*checked));
    const auto key = kv::RegistryKey::Open(HKEY_CURRENT_USER, TestKey);
    EXPECT_EQ(key.ReadString(L"Text"), std::optional<std::wstring>(L"Caf\u00e9 \u65e5\u672c"));
    EXPECT_EQ(key.ReadDword(L"Number"), std::optional<DWORD>(0x12345678));
    EXPECT_TRUE(kv::RegistryKeyExists(HKEY_CURRENT_USER, std::wstring(TestKey) + L"\\Sub\\Deeper"));
}

TEST_F(RegistryFileTest, AnsiFileImports)
{
    const std::wstring file = folder_ + L"ansi.reg";
    kvtest::WriteBytes(file, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + kv::WideToAnsi(TestKey) +
                                 "\\Old]\r\n\"Value\"=\"one\"\r\n\r\n");
    const auto checked = kv::ReadRegistryFile(file, {TestKey});
    ASSERT_TRUE(checked.has_value());
    ASSERT_TRUE(kv::ImportRegistryFile(*checked));
    EXPECT_EQ(kv::RegistryKey::Open(HKEY_CURRENT_USER, std::wstring(TestKey) + L"\\Old").ReadString(L"Value"),
              std::optional<std::wstring>(L"one"));
}

TEST_F(RegistryFileTest, FileWritingAnotherKeyIsRefusedAndNeverApplied)
{
    const std::wstring ours = L"[HKEY_CURRENT_USER\\" + std::wstring(TestKey) + L"]\r\n\"a\"=\"1\"\r\n\r\n";
    const std::wstring evil = L"[HKEY_CURRENT_USER\\Software\\Evil]\r\n\"b\"=\"2\"\r\n\r\n";
    const struct {
        const char* name;
        std::string bytes;
    } files[] = {
        {"only evil", kvtest::UnicodeRegFile(evil)},
        {"evil after ours", kvtest::UnicodeRegFile(ours + evil)},
        {"evil in a hex continuation", kvtest::UnicodeRegFile(ours + L"\"h\"=hex:01,\\\r\n  [HKEY_CURRENT_USER\\Software\\Evil]\r\n")},
        {"ansi", "REGEDIT4\r\n\r\n" + kv::WideToAnsi(ours + evil)},
        {"no sections", kvtest::UnicodeRegFile(L"\"a\"=\"1\"\r\n")},
    };
    for (const auto& f : files) {
        const std::wstring file = folder_ + L"crafted.reg";
        kvtest::WriteBytes(file, f.bytes);
        EXPECT_FALSE(kv::ReadRegistryFile(file, {TestKey}).has_value()) << f.name;
    }
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, EvilKey));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, TestKey));
}

TEST_F(RegistryFileTest, ImportThatFailsIsReported)
{
    const auto checked = FileThatCannotBeImported();
    ASSERT_TRUE(checked.has_value());
    EXPECT_FALSE(kv::ImportRegistryFile(*checked));
}

TEST_F(RegistryFileTest, ReplacedKeyComesBackWhenTheImportFails)
{
    FillTestKey();
    const auto checked = FileThatCannotBeImported();
    ASSERT_TRUE(checked.has_value());
    EXPECT_FALSE(kv::ReplaceRegistryKey(TestKey, *checked));
    const auto key = kv::RegistryKey::Open(HKEY_CURRENT_USER, TestKey);
    EXPECT_EQ(key.ReadDword(L"Number"), std::optional<DWORD>(0x12345678));
    EXPECT_TRUE(kv::RegistryKeyExists(HKEY_CURRENT_USER, std::wstring(TestKey) + L"\\Sub\\Deeper"));
}

TEST_F(RegistryFileTest, ReplaceRemovesWhatTheFileDoesNotHold)
{
    FillTestKey();
    const auto checked = CheckedFile(L"new.reg", L"[HKEY_CURRENT_USER\\" + std::wstring(TestKey) + L"]\r\n\"New\"=\"yes\"\r\n");
    ASSERT_TRUE(checked.has_value());
    ASSERT_TRUE(kv::ReplaceRegistryKey(TestKey, *checked));
    const auto key = kv::RegistryKey::Open(HKEY_CURRENT_USER, TestKey);
    EXPECT_EQ(key.ReadString(L"New"), std::optional<std::wstring>(L"yes"));
    EXPECT_FALSE(key.ValueExists(L"Number"));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, std::wstring(TestKey) + L"\\Sub"));
}

TEST_F(RegistryFileTest, DeleteSectionsAreApplied)
{
    FillTestKey();
    const auto checked = CheckedFile(L"delete.reg", L"[-HKEY_CURRENT_USER\\" + std::wstring(TestKey) + L"\\Sub]\r\n");
    ASSERT_TRUE(checked.has_value());
    EXPECT_TRUE(kv::ImportRegistryFile(*checked));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, std::wstring(TestKey) + L"\\Sub"));
    EXPECT_TRUE(kv::RegistryKeyExists(HKEY_CURRENT_USER, TestKey));
}

} // namespace
