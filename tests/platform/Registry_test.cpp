#include <gtest/gtest.h>

#include "platform/Registry.h"

namespace {

const wchar_t kBase[] = L"Software\\KestrelvaneTests\\Registry";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { kv::DeleteRegistryTree(HKEY_CURRENT_USER, kBase); }
    void TearDown() override { kv::DeleteRegistryTree(HKEY_CURRENT_USER, kBase); }
};

TEST_F(RegistryTest, LeadingBackslashIsDropped)
{
    EXPECT_EQ(kv::NormalizeKeyPath(L"\\\\Software\\X"), L"Software\\X");
    auto key = kv::RegistryKey::Create(HKEY_CURRENT_USER, std::wstring(L"\\") + kBase);
    ASSERT_TRUE(key.IsOpen());
    EXPECT_TRUE(kv::RegistryKeyExists(HKEY_CURRENT_USER, kBase));
}

TEST_F(RegistryTest, IniViewReadsDefaultsOnEmptyKey)
{
    kv::RegistryIniView ini(HKEY_CURRENT_USER, kBase);
    EXPECT_EQ(ini.ReadString(L"Settings", L"Missing", L"fallback"), L"fallback");
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"Missing", 42), 42);
    EXPECT_TRUE(ini.ReadBool(L"Settings", L"Missing", true));
    EXPECT_FALSE(ini.ReadBinary(L"Settings", L"Missing").has_value());
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, kBase)) << "reads must not create keys";
}

TEST_F(RegistryTest, IniViewRoundTrip)
{
    kv::RegistryIniView ini(HKEY_CURRENT_USER, kBase);
    ASSERT_TRUE(ini.WriteString(L"Settings", L"Name", L"Kestrel \x00e9"));
    ASSERT_TRUE(ini.WriteInteger(L"Settings", L"Count", -3));
    ASSERT_TRUE(ini.WriteBool(L"Settings", L"Flag", true));
    const unsigned char bytes[] = {0xFF, 0xFE, 'a', 0};
    ASSERT_TRUE(ini.WriteBinary(L"Filters", L"List", bytes, sizeof bytes));
    EXPECT_EQ(ini.ReadString(L"Settings", L"Name", L""), L"Kestrel \x00e9");
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"Count", 0), -3);
    EXPECT_TRUE(ini.ReadBool(L"Settings", L"Flag", false));
    EXPECT_EQ(*ini.ReadBinary(L"Filters", L"List"), std::vector<std::uint8_t>(bytes, bytes + sizeof bytes));
    EXPECT_EQ(ini.ReadSection(L"Settings").size(), 3u);
    ASSERT_TRUE(ini.EraseSection(L"Settings"));
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"Count", 9), 9);
}

// A value of the wrong type reads as its default; a number kept as text counts.
TEST_F(RegistryTest, WrongTypesFallBackToDefaults)
{
    auto key = kv::RegistryKey::Create(HKEY_CURRENT_USER, std::wstring(kBase) + L"\\Settings");
    const unsigned char three[] = {1, 2, 3};
    key.WriteBinary(L"ShortDword", three, sizeof three);
    key.WriteString(L"Text", L"not a number");
    key.WriteString(L"NumberText", L"17");
    key.WriteDword(L"Dword", 5);
    kv::RegistryIniView ini(HKEY_CURRENT_USER, kBase);
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"ShortDword", 7), 7);
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"Text", 7), 7);
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"NumberText", 7), 17);
    EXPECT_EQ(ini.ReadString(L"Settings", L"Dword", L"dflt"), L"dflt");
    EXPECT_FALSE(ini.ReadBinary(L"Settings", L"Text").has_value());
}

// A view keeps the section it reads open: what it writes, erases and writes
// again is read fresh, sections read in turn each give their own values,
// and a value larger than the first question's buffer comes whole.
TEST_F(RegistryTest, IniViewReadsWhatItWroteAfterEachChange)
{
    kv::RegistryIniView ini(HKEY_CURRENT_USER, kBase);
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"Count", 1), 1) << "the section does not exist yet";
    ASSERT_TRUE(ini.WriteInteger(L"Settings", L"Count", 2));
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"Count", 1), 2);
    ASSERT_TRUE(ini.EraseSection(L"Settings"));
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"Count", 1), 1);
    ASSERT_TRUE(ini.WriteInteger(L"Settings", L"Count", 3));
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"Count", 1), 3) << "read from the section made again";
    ASSERT_TRUE(ini.WriteString(L"Other", L"Count", L"4"));
    EXPECT_EQ(ini.ReadInteger(L"Other", L"Count", 1), 4);
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"Count", 1), 3);
    ASSERT_TRUE(ini.DeleteKey(L"Settings", L"Count"));
    EXPECT_EQ(ini.ReadInteger(L"Settings", L"Count", 1), 1);

    const std::wstring longText(3000, L'k');
    std::vector<std::uint8_t> longBytes(70000);
    for (std::size_t i = 0; i < longBytes.size(); ++i) longBytes[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(ini.WriteString(L"Settings", L"Long", longText));
    ASSERT_TRUE(ini.WriteBinary(L"Settings", L"Bytes", longBytes.data(), longBytes.size()));
    EXPECT_EQ(ini.ReadString(L"Settings", L"Long", L""), longText);
    EXPECT_EQ(ini.ReadBinary(L"Settings", L"Bytes"), longBytes);
    EXPECT_EQ(kv::RegistryKey::Open(HKEY_CURRENT_USER, std::wstring(kBase) + L"\\Settings").ReadBytes(L"Bytes"), longBytes);
}

TEST_F(RegistryTest, DeleteTreeRemovesSubKeysAndIgnoresMissingKeys)
{
    kv::RegistryKey::Create(HKEY_CURRENT_USER, std::wstring(kBase) + L"\\Job\\Job").WriteDword(L"AutoScan", 1);
    EXPECT_TRUE(kv::DeleteRegistryTree(HKEY_CURRENT_USER, std::wstring(kBase) + L"\\Job"));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, std::wstring(kBase) + L"\\Job"));
    EXPECT_TRUE(kv::DeleteRegistryTree(HKEY_CURRENT_USER, std::wstring(kBase) + L"\\Job"));
    EXPECT_FALSE(kv::DeleteRegistryTree(HKEY_CURRENT_USER, L"")) << "never the root itself";
}

} // namespace
