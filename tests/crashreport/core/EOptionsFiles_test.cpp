#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EOptionsFiles.h"
#include "crashreport/core/ESystem.h"
#include "platform/TextCodec.h"

namespace {

using kv::crashreport::TOspreyModuleOptionsEx;

std::string Scratch(const wchar_t* name) { return kv::WideToAnsi(kvtest::ScratchFolder(name)); }

TEST(EOptionsFiles, PathPieces)
{
    EXPECT_EQ(kv::crashreport::ExtractFilePath("C:\\a\\b.elf"), "C:\\a\\");
    EXPECT_EQ(kv::crashreport::ExtractFileName("C:\\a\\b.elf"), "b.elf");
    EXPECT_EQ(kv::crashreport::ExtractFileExt("C:\\a.b\\c"), "");
    EXPECT_EQ(kv::crashreport::ChangeFileExt("C:\\a\\prog.exe", ".elf"), "C:\\a\\prog.elf");
    EXPECT_EQ(kv::crashreport::ChangeFileExt("C:\\a.dir\\prog", ".elf"), "C:\\a.dir\\prog.elf");
}

TEST(EOptionsFiles, ComputerNameIsMadeSafe)
{
    EXPECT_EQ(kv::crashreport::FileNameSafeText("PC:1*2?\"<>|/\\"), "PC_1_2_______");
    EXPECT_EQ(kv::crashreport::ComputerNameForFile().find_first_of("\"*/:<>?\\|"), std::string::npos);
}

TEST(EOptionsFiles, TextsFileRoundTrip)
{
    const std::string folder = Scratch(L"texts");
    const std::string file = folder + "German.ini";
    TOspreyModuleOptionsEx a("");
    a.SetCustomizedTexts(kv::crashreport::mtDialog_Caption, "Fehler");
    a.SetCustomizedTexts(kv::crashreport::mtDialog_ErrorMsgCaption, "Zeile 1\r\nZeile 2\nZeile 3");
    a.SaveCustomizedTextsToFile(file);
    EXPECT_EQ(a.TextsCollection(), folder + "German");

    TOspreyModuleOptionsEx b("");
    b.LoadCustomizedTextsFromFile(file);
    EXPECT_EQ(b.GetCustomizedTexts(kv::crashreport::mtDialog_Caption), "Fehler");
    EXPECT_EQ(b.GetCustomizedTexts(kv::crashreport::mtDialog_ErrorMsgCaption), "Zeile 1\r\nZeile 2\r\nZeile 3");
    EXPECT_EQ(b.GetCustomizedTexts(kv::crashreport::mtInvalidEmailMsg), "Invalid email.");
    EXPECT_EQ(b.TextsCollection(), folder + "German");

    const std::string raw = kvtest::ReadBytes(kv::AnsiToWide(file));
    EXPECT_NE(raw.find("[Exception Log]"), std::string::npos);
    EXPECT_NE(raw.find("Count mtDialog_Caption=1"), std::string::npos);
    EXPECT_NE(raw.find("mtDialog_Caption0=\"Fehler\""), std::string::npos);
}

TEST(EOptionsFiles, TextsFileQuotesAndCounts)
{
    const std::string file = Scratch(L"texts-hand") + "Hand.ini";
    kvtest::WriteBytes(kv::AnsiToWide(file),
                       "[Exception Log]\r\n"
                       "Count mtDialog_Caption=2\r\n"
                       "mtDialog_Caption0=\"Hello\"\r\n"
                       "mtDialog_Caption1=World\r\n"
                       "Count mtErrorMsgCaption=zero\r\n"
                       "mtErrorMsgCaption0=\"ignored\"\r\n");
    TOspreyModuleOptionsEx o("");
    o.LoadCustomizedTextsFromFile(file);
    EXPECT_EQ(o.GetCustomizedTexts(kv::crashreport::mtDialog_Caption), "Hello\r\nWorld");
    EXPECT_EQ(o.GetCustomizedTexts(kv::crashreport::mtErrorMsgCaption), "Error.");
}

TEST(EOptionsFiles, ElfOutputPathIsTheWholeLogName)
{
    const std::string folder = Scratch(L"elf");
    TOspreyModuleOptionsEx o("");
    for (const char* name : {"Crash.elf", "Crash.ELF"}) {
        o.SetOutputPath(folder + name);
        EXPECT_EQ(o.OutputLogFile("C:\\kvbin\\Program.exe"), folder + name);
    }
}

TEST(EOptionsFiles, FolderOutputPathGetsTheModuleName)
{
    const std::string folder = Scratch(L"out") + "deeper\\logs";
    TOspreyModuleOptionsEx o("C:\\kvbin\\Program.vshost.exe");
    o.SetOutputPath(folder);
    EXPECT_EQ(o.OutputLogFile(""), folder + "\\Program.elf");
    EXPECT_TRUE(kvtest::PathExists(kv::AnsiToWide(folder))); // made on the way
    EXPECT_FALSE(kvtest::PathExists(kv::AnsiToWide(folder + "\\Program.elf"))); // the test file is gone again

    kv::crashreport::TLogOptions withName = o.LogOptions();
    withName.Include(kv::crashreport::loAddComputerNameInLogFileName);
    o.SetLogOptions(withName);
    EXPECT_EQ(o.OutputLogFile(""), folder + "\\Program_" + kv::crashreport::ComputerNameForFile() + ".elf");
}

TEST(EOptionsFiles, OutputPathWithTags)
{
    const std::string folder = Scratch(L"tagged");
    ::SetEnvironmentVariableA("KV_LOG_ROOT", folder.substr(0, folder.size() - 1).c_str());
    TOspreyModuleOptionsEx o("");
    o.SetOutputPath("%KV_LOG_ROOT%\\x");
    EXPECT_EQ(o.OutputFile("C:\\kvbin\\P.elf"), folder + "x\\P.elf");
    ::SetEnvironmentVariableA("KV_LOG_ROOT", nullptr);
}

TEST(EOptionsFiles, UnwritablePlaceFallsBackToTheDefaultFolder)
{
    // A folder that cannot exist: its parent is a file.
    const std::string folder = Scratch(L"fallback");
    kvtest::WriteBytes(kv::AnsiToWide(folder + "blocker"), "x");
    std::string path = folder + "blocker\\Report.elf";
    ASSERT_TRUE(kv::crashreport::EnsureWritableLogPath(path, false, false));
    EXPECT_EQ(path, kv::crashreport::DefaultOutputFolder() + "\\Report.elf");

    std::string readOnly = folder + "missing.ini";
    EXPECT_FALSE(kv::crashreport::EnsureWritableLogPath(readOnly, false, true)); // nothing to read anywhere
}

TEST(EOptionsFiles, ForceFoldersMakesParents)
{
    const std::string folder = Scratch(L"force") + "a\\b\\c\\";
    EXPECT_TRUE(kv::crashreport::ForceFolders(folder));
    EXPECT_TRUE(kvtest::PathExists(kv::AnsiToWide(folder)));
    EXPECT_FALSE(kv::crashreport::ForceFolders(""));
    EXPECT_TRUE(kv::crashreport::ForceFolders("C:"));
}

TEST(EOptionsFiles, IniStrings)
{
    const std::string file = Scratch(L"ini") + "OspreyLog.ini";
    kv::crashreport::WriteIniString(file, "Dialog", "Email", "someone@example.org");
    EXPECT_EQ(kv::crashreport::ReadIniString(file, "Dialog", "Email", "none"), "someone@example.org");
    EXPECT_EQ(kv::crashreport::ReadIniString(file, "Dialog", "Missing", "none"), "none");
    EXPECT_EQ(kv::crashreport::ReadIniString(Scratch(L"ini-none") + "absent.ini", "Dialog", "Email", "none"), "none");
}

// Read by the program's own INI reader: quotes go, names ignore case, and a
// value is cut to what a 2048-character buffer holds.
TEST(EOptionsFiles, IniStringsFromAHandWrittenFile)
{
    const std::string file = Scratch(L"ini-hand") + "OspreyLog.ini";
    kvtest::WriteBytes(kv::AnsiToWide(file), "; set by hand\r\n[dialog]\r\nEMAIL = \"quoted@example.org\" \r\n"
                                             "Long=" + std::string(3000, 'x') + "\r\n");
    EXPECT_EQ(kv::crashreport::ReadIniString(file, "Dialog", "Email", "none"), "quoted@example.org");
    EXPECT_EQ(kv::crashreport::ReadIniString(file, "Dialog", "Long", ""), std::string(2047, 'x'));
}

} // namespace

namespace {

TEST(EOptionsFiles, OptionsFileRoundTrip)
{
    const std::string file = kv::WideToAnsi(kvtest::ScratchFolder(L"options-file")) + "options.bin";
    kv::crashreport::TOspreyModuleOptionsEx a("");
    a.SetWebURL("http://127.0.0.1:8080/upload");
    a.SaveToFile(file);
    kv::crashreport::TOspreyModuleOptionsEx b("");
    b.LoadFromFile(file);
    EXPECT_EQ(b.WebURL(), "http://127.0.0.1:8080/upload");
    EXPECT_THROW(b.LoadFromFile(file + ".missing"), kv::EFileStreamError);
}

} // namespace
