#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "LegacyOptionsStream.h"
#include "TestHex.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EOptionsStream.h"
#include "crashreport/core/ESystem.h"

namespace {

#include "data/OptionsStreamGolden.inc"

using kv::crashreport::TOspreyModuleOptionsEx;
using namespace kvtest::legacy;

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int v : values) bytes += static_cast<char>(v);
    return bytes;
}

void LoadVersion(kv::crashreport::TOspreyModuleOptions& o, const std::string& bytes, int version)
{
    kv::MemoryStream stream(bytes);
    kv::crashreport::OptionsStreamVersion = static_cast<std::uint16_t>(version);
    o.LoadFromStream(stream);
    kv::crashreport::OptionsStreamVersion = kv::crashreport::ReporterVersion;
}

std::string Saved(const kv::crashreport::TOspreyModuleOptions& o)
{
    kv::MemoryStream stream;
    o.SaveToStream(stream);
    return stream.Data();
}

std::string StoredText(std::string_view text)
{
    kv::MemoryStream stream;
    kv::crashreport::WriteOptionString(stream, text);
    return stream.Data();
}

TEST(EOptionsStream, DefaultStreamBeginsWithTheFixedFields)
{
    TOspreyModuleOptionsEx o("");
    EXPECT_EQ(Saved(o).substr(0, 11), Bytes({0x00, 0x01, 0x30, 0x00, 0x01, 0x00, 0x00, 0x3C, 0x00, 0x00, 0x00}));
}

// Where two streams first differ, for a failure message that can be read.
std::string FirstDifference(const std::string& actual, const std::string& expected)
{
    std::size_t offset = 0;
    while (offset < actual.size() && offset < expected.size() && actual[offset] == expected[offset]) ++offset;
    if (offset == actual.size() && offset == expected.size()) return "none";
    return "at byte " + std::to_string(offset) + " of " + std::to_string(expected.size()) + " (actual length " +
           std::to_string(actual.size()) + ")";
}

// The whole stream against a separate model of the layout
// (tools/make-options-stream.py), with every field distinct: a swap of two
// neighbours in the writer shows here even when the reader swaps them back.
TEST(EOptionsStream, WholeStreamMatchesTheModelByteForByte)
{
    TOspreyModuleOptionsEx o("");
    FillModelOptions(o);
    const std::string expected = kvtest::FromHex(kModelOptionsStream);
    const std::string actual = Saved(o);
    EXPECT_EQ(FirstDifference(actual, expected), "none");
}

// The reader puts each field of the model's stream where the writer takes it
// from, and leaves nothing unread.
TEST(EOptionsStream, ReadingTheModelStreamGivesItBack)
{
    TOspreyModuleOptionsEx o("");
    const std::string model = kvtest::FromHex(kModelOptionsStream);
    kv::MemoryStream stream(model);
    o.LoadFromStream(stream);
    EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(model.size()));
    EXPECT_EQ(FirstDifference(Saved(o), model), "none");
    EXPECT_EQ(o.SMTPFrom(), "from@example.org");
    EXPECT_EQ(o.SupportURL(), "http://support.example.org/");
    EXPECT_EQ(o.ZipPassword(), "zip secret");
}

TEST(EOptionsStream, TextFieldRules)
{
    EXPECT_EQ(StoredText(""), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(StoredText("ab\r\n"), StoredText("ab"));
    EXPECT_EQ(StoredText("\r\n"), StoredText(""));
    EXPECT_EQ(StoredText("a\r\nb\r\n").substr(0, 4), Bytes({6, 0, 0, 0}));
    EXPECT_EQ(StoredText("A"), Bytes({1, 0, 0, 0, 'A' ^ 0xD6}));

    kv::MemoryStream stream(StoredText("a\r\nb\r\n"));
    EXPECT_EQ(kv::crashreport::ReadOptionString(stream), "a\r\nb\r\n");
    kv::MemoryStream negative(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 'x'}));
    EXPECT_EQ(kv::crashreport::ReadOptionString(negative), "");
    EXPECT_EQ(negative.Position(), 4);
}

// A corrupt length raises the read error before anything is allocated.
TEST(EOptionsStream, LengthBeyondTheStreamRaises)
{
    kv::MemoryStream huge(Bytes({0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'}));
    EXPECT_THROW(kv::crashreport::ReadOptionString(huge), kv::EReadError);
    kv::MemoryStream oneShort(Bytes({3, 0, 0, 0, 'a', 'b'}));
    EXPECT_THROW(kv::crashreport::ReadOptionString(oneShort), kv::EReadError);
}

TEST(EOptionsStream, FullRoundTrip)
{
    TOspreyModuleOptionsEx a("");
    a.SetActivateLog(true);
    a.SetActivateHandle(false);
    a.SetLogOptions(kv::crashreport::TLogOptions::FromValue(0x2D));
    a.SetAppendLogs(true);
    a.SetSaveLogFile(false);
    a.SetForegroundTab(kv::crashreport::ftAssembler);
    a.SetFreezeActivate(true);
    a.SetFreezeTimeout(17);
    a.SetSMTPFrom("from@example.org");
    a.SetSMTPHost("mail.example.org");
    a.SetSMTPPort(587);
    a.SetSMTPUserID("user");
    a.SetSMTPPassword("secret");
    a.SetTerminateBtnOperation(kv::crashreport::tbTerminate);
    a.SetErrorsNumberToSave(5);
    a.SetErrorsNumberToShowTerminateBtn(9);
    a.SetEMailAddresses("a@example.org;b@example.org");
    a.SetEMailSubject("Crash");
    a.SetEMailSendMode(kv::crashreport::esmSMTPServer);
    a.SetShowOptions(kv::crashreport::TShowOptions::FromValue(0xA5A5A5A5A5A5ull));
    a.SetOutputPath("D:\\logs\\");
    a.SetWebSendMode(kv::crashreport::wsmMantis);
    a.SetWebURL("http://127.0.0.1/");
    a.SetWebUserID("wu");
    a.SetWebPassword("wp");
    a.SetWebPort(8080);
    a.SetAttachedFiles("a.txt;b.txt");
    a.SetCommonSendOptions(kv::crashreport::TCommonSendOptions::FromValue(0x3FF));
    a.SetExceptionDialogOptions(kv::crashreport::TExceptionDialogOptions::FromValue(0x2AA));
    a.SetAutoCloseDialogSecs(30);
    a.SetSupportURL("http://support.example.org/");
    a.SetHTMLLayout("<p><%HTML_TAG%></p>");
    a.SetCallStackOptions(kv::crashreport::TCallStackOptions::FromValue(0x1F));
    a.SetBehaviourOptions(kv::crashreport::TBehaviourOptions::FromValue(0x1FF));
    a.SetAutoCrashOperation(kv::crashreport::tbNone);
    a.SetAutoCrashNumber(4);
    a.SetAutoCrashMinutes(2);
    a.SetCompiledFileOptions(kv::crashreport::TCompiledFileOptions::FromValue(0x03));
    a.SetExceptionDialogType(kv::crashreport::edtMessageBox);
    a.SetProxyURL("proxy");
    a.SetProxyUserID("pu");
    a.SetProxyPassword("pp");
    a.SetProxyPort(3128);
    a.SetTrakerUserID("tu");
    a.SetTrakerPassword("tp");
    a.SetTrakerAssignTo("dev");
    a.SetTrakerProject("Kestrelvane");
    a.SetTrakerCategory("crash");
    a.SetTrakerTrialID("custom");
    a.SetZipPassword("zip");
    for (bool active : {true, false}) {
        auto f = std::make_unique<kv::crashreport::TOspreyExceptionFilter>();
        f->Active = active;
        f->ExceptionClassName = active ? "EAbort" : "EOutOfMemory";
        f->ExceptionMessage = active ? "" : "Out of memory";
        f->ExceptionType = kv::crashreport::fetHandled;
        f->DialogType = kv::crashreport::fdtOspreyLog;
        f->HandlerType = kv::crashreport::fhtRTL;
        f->ActionType = kv::crashreport::fatRestart;
        a.ExceptionsFilters().Add(std::move(f));
    }
    a.SetEMailMessage("Body\r\nline 2");
    for (int i = 0; i < kv::crashreport::MessageTypeCount; ++i)
        a.SetCustomizedTexts(static_cast<kv::crashreport::TMessageType>(i), "Text " + std::to_string(i));
    a.SetTextsCollection("C:\\texts\\German");

    TOspreyModuleOptionsEx b("");
    LoadVersion(b, Saved(a), kv::crashreport::ReporterVersion);
    EXPECT_EQ(Saved(b), Saved(a));
    EXPECT_EQ(b.SMTPPassword(), "secret");
    EXPECT_EQ(b.CompiledFileOptions().Value(), 0x03u); // the reserved bit travels too
    ASSERT_EQ(b.ExceptionsFilters().Count(), 2);
    EXPECT_EQ(*b.ExceptionsFilters()[1], *a.ExceptionsFilters()[1]);
    EXPECT_EQ(b.GetCustomizedTexts(kv::crashreport::mtInvalidEmailMsg), "Text 157");
    EXPECT_EQ(b.TextsCollection(), "C:\\texts\\German");
}

// A short stream raises; fields read before keep their new values and the
// update bracket is closed again.
TEST(EOptionsStream, ShortStreamRaisesAndClosesTheBracket)
{
    TOspreyModuleOptionsEx source("");
    source.SetActivateLog(true);
    const std::string bytes = Saved(source);
    for (std::size_t cut : {std::size_t(0), std::size_t(1), std::size_t(11), bytes.size() / 2, bytes.size() - 1}) {
        TOspreyModuleOptionsEx o("");
        kv::MemoryStream stream(bytes.substr(0, cut));
        EXPECT_THROW(o.LoadFromStream(stream), kv::EReadError) << cut;
        EXPECT_EQ(o.UpdateLevel(), 0) << cut;
        if (cut >= 1) {
            EXPECT_TRUE(o.ActivateLog());
        }
    }
}

// A corrupt text length deep inside a stream: a read error, no huge allocation.
TEST(EOptionsStream, CorruptLengthInsideAStream)
{
    TOspreyModuleOptionsEx source("");
    std::string bytes = Saved(source);
    const std::int32_t huge = 0x7FFFFFF0;
    std::memcpy(&bytes[11], &huge, 4); // the length of SMTPFrom
    TOspreyModuleOptionsEx o("");
    EXPECT_THROW(LoadVersion(o, bytes, kv::crashreport::ReporterVersion), kv::EReadError);
    EXPECT_EQ(o.UpdateLevel(), 0);
}

TEST(EOptionsStream, ShowOptionsText)
{
    kv::crashreport::TShowOptions options;
    options.Include(kv::crashreport::soAppStartDate);
    options.Include(kv::crashreport::soCustomData);
    const std::string text = kv::crashreport::ShowOptionsToText(options);
    EXPECT_EQ(text, "1" + std::string(46, '0') + "1");
    EXPECT_EQ(kv::crashreport::TextToShowOptions(text), options);
    EXPECT_EQ(kv::crashreport::TextToShowOptions("01"), kv::crashreport::TShowOptions{kv::crashreport::soAppName});
}

TEST(EOptionsStream, LegacyVersionTable)
{
    const struct Row {
        int version;
        std::uint8_t dialogByte;
        kv::crashreport::TExceptionDialogType dialog;
        std::int32_t freezeTimeout; // expected
        bool smtpPortRead;
        kv::crashreport::TTerminateBtnOperation terminate;
    } rows[] = {
        {400, 1, kv::crashreport::edtNone, 60, false, kv::crashreport::tbRestart},       {420, 0, kv::crashreport::edtMSClassic, 5, false, kv::crashreport::tbRestart},
        {421, 0, kv::crashreport::edtMSClassic, 5, false, kv::crashreport::tbTerminate}, {422, 0, kv::crashreport::edtMSClassic, 5000, false, kv::crashreport::tbTerminate},
        {449, 1, kv::crashreport::edtNone, 5000, false, kv::crashreport::tbTerminate},   {450, 0, kv::crashreport::edtNone, 5000, true, kv::crashreport::tbTerminate},
        {450, 1, kv::crashreport::edtMSClassic, 5000, true, kv::crashreport::tbTerminate}, {499, 1, kv::crashreport::edtMSClassic, 5000, true, kv::crashreport::tbTerminate},
        {500, 0, kv::crashreport::edtMSClassic, 5000, true, kv::crashreport::tbTerminate}, {5000, 0, kv::crashreport::edtMSClassic, 5000, true, kv::crashreport::tbTerminate},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version);
        LegacyValues values;
        values.dialogByte = row.dialogByte;
        values.terminateByte = 1;
        TOspreyModuleOptionsEx o("");
        ASSERT_NO_THROW(LoadVersion(o, LegacyStream(row.version, values), row.version));
        EXPECT_EQ(o.UpdateLevel(), 0);
        EXPECT_EQ(o.ExceptionDialogType(), row.dialog);
        EXPECT_EQ(o.FreezeTimeout(), row.freezeTimeout);
        EXPECT_EQ(o.SMTPPort(), row.smtpPortRead ? 2525 : 25);
        EXPECT_EQ(o.TerminateBtnOperation(), row.terminate);
        EXPECT_EQ(o.ShowOptions(), kv::crashreport::TShowOptions::All()) << kv::crashreport::ShowOptionsToText(o.ShowOptions());
        EXPECT_EQ(o.ErrorsNumberToSave(), 12);
        EXPECT_EQ(o.OutputPath(), "C:\\old-logs");
        EXPECT_EQ(o.EMailMessage(), "mail body");
        EXPECT_EQ(o.TextsCollection(), "English");
        // Texts the version did not have keep their defaults.
        for (int i = 0; i < kv::crashreport::MessageTypeCount; ++i) {
            const auto type = static_cast<kv::crashreport::TMessageType>(i);
            if (type == kv::crashreport::mtException_AntiFreeze) continue;
            EXPECT_EQ(o.GetCustomizedTexts(type),
                      TextPresent(i, row.version) ? "Legacy " + std::to_string(i) : kv::crashreport::DefaultMessageText(type))
                << i;
        }
        // The old freeze message becomes the freeze text.
        EXPECT_EQ(o.GetCustomizedTexts(kv::crashreport::mtException_AntiFreeze),
                  row.version >= 420 ? "Frozen!" : kv::crashreport::DefaultMessageText(kv::crashreport::mtException_AntiFreeze));
        // Old filters: unhandled only; a message box when they carry a message.
        ASSERT_EQ(o.ExceptionsFilters().Count(), 2);
        EXPECT_TRUE(o.ExceptionsFilters()[0]->Active);
        EXPECT_EQ(o.ExceptionsFilters()[0]->ExceptionType, kv::crashreport::fetUnhandled);
        EXPECT_EQ(o.ExceptionsFilters()[0]->DialogType, kv::crashreport::fdtNone);
        EXPECT_EQ(o.ExceptionsFilters()[1]->DialogType, kv::crashreport::fdtMessageBox);
        EXPECT_EQ(o.ExceptionsFilters()[1]->ExceptionMessage, "No memory");
        EXPECT_TRUE(o.CallStackOptions().Contains(kv::crashreport::csoDoNotStoreProcNames) == (row.version >= 500));
    }
}

TEST(EOptionsStream, LegacySendAndTabRules)
{
    LegacyValues values;
    TOspreyModuleOptionsEx v450("");
    LoadVersion(v450, LegacyStream(450, values), 450);
    EXPECT_TRUE(v450.CommonSendOptions().Contains(kv::crashreport::sndSendEntireLog));
    EXPECT_FALSE(v450.CommonSendOptions().Contains(kv::crashreport::sndSendScreenshot));
    EXPECT_TRUE(v450.CommonSendOptions().Contains(kv::crashreport::sndShowSendDialog));
    EXPECT_EQ(v450.ForegroundTab(), kv::crashreport::ftCPU); // the old processes tab is now the CPU tab
    EXPECT_TRUE(v450.ExceptionDialogOptions().Contains(kv::crashreport::edoShowInTopMostMode));

    TOspreyModuleOptionsEx v5000("");
    LoadVersion(v5000, LegacyStream(5000, values), 5000);
    EXPECT_FALSE(v5000.CommonSendOptions().Contains(kv::crashreport::sndAddComputerNameInFileName));
    EXPECT_EQ(v5000.ExceptionDialogOptions().Value(), 0x8Fu);
    EXPECT_EQ(v5000.BehaviourOptions().Value(), 0x09u);
    EXPECT_EQ(v5000.LeaksOptions().Value(), 0x1Eu); // not in the old stream
    EXPECT_EQ(v5000.WebPort(), 81);
    EXPECT_EQ(v5000.ProxyPort(), 8080);

    // An old stream with mail sending on: SMTP when a host was given.
    values.emailMode = 1;
    values.smtpHost = "smtp.old";
    TOspreyModuleOptionsEx v440("");
    LoadVersion(v440, LegacyStream(440, values), 440);
    EXPECT_EQ(v440.EMailSendMode(), kv::crashreport::esmSMTPClient);
    values.smtpHost.clear();
    LoadVersion(v440, LegacyStream(440, values), 440);
    EXPECT_EQ(v440.EMailSendMode(), kv::crashreport::esmEmailClient);
}

TEST(EOptionsStream, LegacyShowOptionsWidening)
{
    LegacyValues values;
    values.showBytes = std::string(5, '\0');
    TOspreyModuleOptionsEx o("");
    LoadVersion(o, LegacyStream(5000, values), 5000);
    // Nothing shown before: only the fields added since are on (up time,
    // module version, ID to note, the active controls, display DPI to
    // printer, charset and custom data).
    const std::string text = kv::crashreport::ShowOptionsToText(o.ShowOptions());
    EXPECT_EQ(text, "000001000100111100000011110000000111000010000001");
    EXPECT_TRUE(o.ShowOptions().Contains(kv::crashreport::soAppUpTime));
    EXPECT_TRUE(o.ShowOptions().Contains(kv::crashreport::soOSCharset));
    EXPECT_TRUE(o.ShowOptions().Contains(kv::crashreport::soCustomData));
}

// An ordinal past an enumeration's end leaves the field as it was.
TEST(EOptionsStream, OutOfRangeEnumerationIsIgnored)
{
    TOspreyModuleOptionsEx source("");
    std::string bytes = Saved(source);
    bytes[5] = static_cast<char>(200); // ForegroundTab
    TOspreyModuleOptionsEx o("");
    o.SetForegroundTab(kv::crashreport::ftModules);
    LoadVersion(o, bytes, kv::crashreport::ReporterVersion);
    EXPECT_EQ(o.ForegroundTab(), kv::crashreport::ftModules);
}

} // namespace
