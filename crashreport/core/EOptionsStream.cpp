#include "crashreport/core/EOptionsStream.h"

#include <algorithm>

#include "crashreport/core/ECore.h"
#include "crashreport/core/ESystem.h"

namespace kv::crashreport {

std::uint16_t OptionsStreamVersion = ReporterVersion;

namespace {

constexpr std::uint8_t kTextKey = 0xD6;
constexpr int kCurrentLayout = 6000; // streams from this version on have the current layout

std::string Xored(std::string text)
{
    for (char& c : text) c = static_cast<char>(c ^ kTextKey);
    return text;
}

// Typed reads of one stream.
class FieldReader {
public:
    explicit FieldReader(Stream& stream) : stream_(stream) {}
    std::uint8_t Byte() { return stream_.ReadValue<std::uint8_t>(); }
    bool Bool() { return Byte() != 0; }
    std::uint16_t Word() { return stream_.ReadValue<std::uint16_t>(); }
    std::int32_t Int() { return stream_.ReadValue<std::int32_t>(); }
    std::string Text() { return ReadOptionString(stream_); }
    template <class Set>
    Set SetOf()
    {
        Set set;
        stream_.ReadBuffer(set.Raw().data(), set.Raw().size());
        return set;
    }
    // An ordinal beyond the enumeration's last member leaves the field as it was.
    template <class Enum>
    void Enumeration(Enum& field, Enum last)
    {
        const std::uint8_t value = Byte();
        if (value <= static_cast<std::uint8_t>(last)) field = static_cast<Enum>(value);
    }

private:
    Stream& stream_;
};

class FieldWriter {
public:
    explicit FieldWriter(Stream& stream) : stream_(stream) {}
    void Byte(std::uint8_t value) { stream_.WriteValue(value); }
    void Word(std::uint16_t value) { stream_.WriteValue(value); }
    void Int(std::int32_t value) { stream_.WriteValue(value); }
    void Text(std::string_view text) { WriteOptionString(stream_, text); }
    template <class Set>
    void SetOf(const Set& set)
    {
        stream_.WriteBuffer(set.Raw().data(), set.Raw().size());
    }

private:
    Stream& stream_;
};

struct Insertion {
    int position; // 1-based, in the text as it stands after the earlier insertions
    const char* ones;
};
constexpr Insertion kShowOptionsBefore500[] = {{5, "11"},    {10, "1"},   {13, "1111"},    {23, "1111"},
                                               {31, "111111"}, {42, "1111111"}};
constexpr Insertion kShowOptionsBefore6000[] = {{6, "1"},     {10, "1"},  {13, "1111"}, {23, "1111"},
                                                {34, "111"}, {41, "1"}, {48, "1"}};

// Older versions knew fewer report fields; the fields added since are shown.
template <std::size_t N>
TShowOptions WidenShowOptions(const TShowOptions& old, const Insertion (&insertions)[N])
{
    std::string text = ShowOptionsToText(old);
    for (const Insertion& insertion : insertions)
        text.insert(std::min<std::size_t>(static_cast<std::size_t>(insertion.position - 1), text.size()),
                    insertion.ones);
    return TextToShowOptions(text.substr(0, TShowOptions::kCount));
}

// Whether text i is absent from a stream of version v.
bool TextMissing(int i, int v)
{
    static constexpr int setA[] = {9, 10, 15, 16, 22, 23, 24, 41, 68, 81};
    static constexpr int setB[] = {25, 42, 72, 73, 74, 75, 76, 77, 84, 85, 86, 87, 88, 89, 90, 91,
                                   98, 99, 100, 101, 102, 103, 104, 131, 144, 145};
    static constexpr int setC[] = {2,   11,  12,  13,  14,  21,  26,  27,  28,  29,  30,  31,  32,  33,  34,  35,
                                   36,  43,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  83,  105, 106, 107,
                                   108, 109, 113, 117, 118, 119, 120, 121, 122, 133, 134, 135, 136, 137, 138, 139,
                                   140, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 156, 157};
    auto in = [i](const auto& set) { return std::find(std::begin(set), std::end(set), i) != std::end(set); };
    return (i == 20 && v < 420) || (i == 19 && v < 421) || (in(setA) && v < 450) || (i >= 110 && v < 450) ||
           ((i == 47 || i == 48) && v < 450) || (in(setB) && v < 500) || (i == 41 && v < kCurrentLayout) ||
           ((i == 17 || i == 18) && v >= 500 && v < kCurrentLayout) || (in(setC) && v < kCurrentLayout);
}

} // namespace

void WriteOptionString(Stream& stream, std::string_view text)
{
    std::string stored(text);
    if (stored.size() > 1 && stored.find("\r\n") == stored.size() - 2) stored.resize(stored.size() - 2);
    stream.WriteValue(static_cast<std::int32_t>(stored.size()));
    const std::string bytes = Xored(std::move(stored));
    stream.WriteBuffer(bytes.data(), bytes.size());
}

std::string ReadOptionString(Stream& stream)
{
    const auto length = stream.ReadValue<std::int32_t>();
    if (length <= 0) return std::string();
    // A corrupt length must not allocate more than the stream can hold.
    if (length > stream.Remaining()) throw EReadError();
    std::string text(static_cast<std::size_t>(length), '\0');
    stream.ReadBuffer(text.data(), text.size());
    return Xored(std::move(text));
}

std::string ShowOptionsToText(const TShowOptions& options)
{
    std::string text;
    for (int k = 0; k < TShowOptions::kCount; ++k) text += options.Contains(static_cast<TShowOption>(k)) ? '1' : '0';
    return text;
}

TShowOptions TextToShowOptions(std::string_view text)
{
    TShowOptions options;
    for (int k = 0; k < TShowOptions::kCount && k < static_cast<int>(text.size()); ++k)
        if (text[static_cast<std::size_t>(k)] == '1') options.Include(static_cast<TShowOption>(k));
    return options;
}

void TOspreyModuleOptions::SaveToStream(Stream& stream) const
{
    FieldWriter w(stream);
    w.Byte(FActivateLog);
    w.Byte(FActivateHandle);
    w.SetOf(FLogOptions);
    w.Byte(FAppendLogs);
    w.Byte(FSaveLogFile);
    w.Byte(FForegroundTab);
    w.Byte(FFreezeActivate);
    w.Int(FFreezeTimeout);
    w.Text(FSMTPFrom);
    w.Text(FSMTPHost);
    w.Word(FSMTPPort);
    w.Text(FSMTPUserID);
    w.Text(FSMTPPassword);
    w.Byte(FTerminateBtnOperation);
    w.Int(FErrorsNumberToSave);
    w.Int(FErrorsNumberToShowTerminateBtn);
    w.Text(FEMailAddresses);
    w.Text(FEMailSubject);
    w.Byte(FEMailSendMode);
    w.SetOf(FShowOptions);
    w.Text(FOutputPath);
    w.Byte(FWebSendMode);
    w.Text(FWebURL);
    w.Text(FWebUserID);
    w.Text(FWebPassword);
    w.Int(FWebPort);
    w.Text(FAttachedFiles);
    w.SetOf(FCommonSendOptions);
    w.SetOf(FExceptionDialogOptions);
    w.Int(FAutoCloseDialogSecs);
    w.Text(FSupportURL);
    w.Text(FHTMLLayout);
    w.SetOf(FCallStackOptions);
    w.SetOf(FBehaviourOptions);
    w.SetOf(FLeaksOptions);
    w.Byte(FAutoCrashOperation);
    w.Int(FAutoCrashNumber);
    w.Int(FAutoCrashMinutes);
    w.SetOf(FCompiledFileOptions);
    w.Byte(FExceptionDialogType);
    for (const std::string* text : {&FProxyURL, &FProxyUserID, &FProxyPassword}) w.Text(*text);
    w.Word(FProxyPort);
    for (const std::string* text : {&FTrakerUserID, &FTrakerPassword, &FTrakerAssignTo, &FTrakerProject,
                                    &FTrakerCategory, &FTrakerTrialID, &FZipPassword})
        w.Text(*text);
    w.Int(filters_.Count());
    for (int i = 0; i < filters_.Count(); ++i) {
        const TOspreyExceptionFilter& filter = *filters_[i];
        w.Byte(filter.Active);
        w.Text(filter.ExceptionClassName);
        w.Text(filter.ExceptionMessage);
        w.Byte(filter.ExceptionType);
        w.Byte(filter.DialogType);
        w.Byte(filter.HandlerType);
        w.Byte(filter.ActionType);
    }
    w.Text(FEMailMessage);
    for (const std::string& text : customizedTexts_) w.Text(text);
    w.Text(FTextsCollection);
}

void TOspreyModuleOptions::LoadFromStream(Stream& stream)
{
    UpdateBracket update(*this);
    LoadFromStreamBody(stream, OptionsStreamVersion);
}

void TOspreyModuleOptions::LoadFromStreamBody(Stream& stream, int v)
{
    FieldReader r(stream);
    FActivateLog = r.Bool();
    FActivateHandle = r.Bool();
    FLogOptions = r.SetOf<TLogOptions>();
    if (v < 500) {
        std::uint8_t dialog = r.Byte();
        if (v < 450) dialog ^= 1;
        if (dialog == 0) SetExceptionDialogType(edtNone);
    }
    FAppendLogs = r.Bool();
    if (v >= 450 && v < 500)
        for (TCommonSendOption member : {sndSendEntireLog, sndSendScreenshot, sndShowSendDialog})
            FCommonSendOptions.Set(member, r.Byte() != 0);
    if (v > 400) {
        FSaveLogFile = r.Bool();
        r.Enumeration(FForegroundTab, ftCPU);
        if (v < kCurrentLayout && FForegroundTab == ftProcesses) FForegroundTab = ftCPU;
    }
    if (v > 402 && v < 500) FExceptionDialogOptions.Set(edoShowInTopMostMode, r.Byte() != 0);
    std::string oldFreezeMessage;
    if (v >= 420) {
        FFreezeActivate = r.Bool();
        FFreezeTimeout = r.Int();
        if (v < 422) FFreezeTimeout /= 1000;
        if (v < kCurrentLayout) oldFreezeMessage = r.Text();
        if (v >= 450) FSMTPFrom = r.Text();
        FSMTPHost = r.Text();
    }
    if (v >= 450) FSMTPPort = r.Word();
    if (v > 420) {
        FSMTPUserID = r.Text();
        FSMTPPassword = r.Text();
        r.Enumeration(FTerminateBtnOperation, tbRestart);
    }
    if (v < kCurrentLayout && r.Byte() == 0) SetTerminateBtnOperation(tbNone);
    FErrorsNumberToSave = r.Int();
    FErrorsNumberToShowTerminateBtn = r.Int();
    FEMailAddresses = r.Text();
    FEMailSubject = r.Text();
    r.Enumeration(FEMailSendMode, esmSMTPServer);
    if (v < 450 && FEMailSendMode != esmNoSend) FEMailSendMode = FSMTPHost.empty() ? esmEmailClient : esmSMTPClient;

    FShowOptions.Clear();
    if (v >= kCurrentLayout) {
        FShowOptions = r.SetOf<TShowOptions>();
    } else {
        const std::size_t oldBytes = v < 500 ? 4 : 5;
        stream.ReadBuffer(FShowOptions.Raw().data(), oldBytes);
        FShowOptions = v < 500 ? WidenShowOptions(FShowOptions, kShowOptionsBefore500)
                               : WidenShowOptions(FShowOptions, kShowOptionsBefore6000);
    }
    if (v < 450) r.Byte();
    FOutputPath = r.Text();

    if (v >= 500) {
        r.Enumeration(FWebSendMode, wsmMantis);
        FWebURL = r.Text();
        FWebUserID = r.Text();
        FWebPassword = r.Text();
        FWebPort = r.Int();
        FAttachedFiles = r.Text();
        FCommonSendOptions = r.SetOf<TCommonSendOptions>();
        if (v < kCurrentLayout) FCommonSendOptions.Exclude(sndAddComputerNameInFileName);
        if (v < kCurrentLayout) {
            FExceptionDialogOptions.Clear();
            FExceptionDialogOptions.Raw()[0] = r.Byte();
        } else {
            FExceptionDialogOptions = r.SetOf<TExceptionDialogOptions>();
        }
        FAutoCloseDialogSecs = r.Int();
        FSupportURL = r.Text();
        FHTMLLayout = r.Text();
        FCallStackOptions = r.SetOf<TCallStackOptions>();
        if (v < kCurrentLayout) FCallStackOptions.Include(csoDoNotStoreProcNames);
        if (v < kCurrentLayout) {
            FBehaviourOptions.Clear();
            FBehaviourOptions.Raw()[0] = r.Byte();
        } else {
            FBehaviourOptions = r.SetOf<TBehaviourOptions>();
            FLeaksOptions = r.SetOf<TLeaksOptions>();
        }
        r.Enumeration(FAutoCrashOperation, tbRestart);
        FAutoCrashNumber = r.Int();
        FAutoCrashMinutes = r.Int();
        if (v >= kCurrentLayout) {
            FCompiledFileOptions = r.SetOf<TCompiledFileOptions>();
            r.Enumeration(FExceptionDialogType, edtOspreyLog);
            for (std::string* text : {&FProxyURL, &FProxyUserID, &FProxyPassword}) *text = r.Text();
            FProxyPort = r.Word();
            for (std::string* text : {&FTrakerUserID, &FTrakerPassword, &FTrakerAssignTo, &FTrakerProject,
                                      &FTrakerCategory, &FTrakerTrialID, &FZipPassword})
                *text = r.Text();
        }
    }

    filters_.Clear();
    const std::int32_t filterCount = r.Int();
    for (std::int32_t i = 0; i < filterCount; ++i) {
        auto filter = std::make_unique<TOspreyExceptionFilter>();
        filter->Active = v < kCurrentLayout ? true : r.Bool();
        filter->ExceptionClassName = r.Text();
        filter->ExceptionMessage = r.Text();
        if (v < kCurrentLayout) {
            filter->ExceptionType = fetUnhandled;
            filter->DialogType = filter->ExceptionMessage.empty() ? fdtNone : fdtMessageBox;
            filter->HandlerType = fhtNone;
            filter->ActionType = fatNone;
        } else {
            r.Enumeration(filter->ExceptionType, fetUnhandled);
            r.Enumeration(filter->DialogType, fdtOspreyLog);
            r.Enumeration(filter->HandlerType, fhtOspreyLog);
            r.Enumeration(filter->ActionType, fatRestart);
        }
        filters_.Add(std::move(filter));
    }
    FEMailMessage = r.Text();

    for (int i = 0; i < MessageTypeCount; ++i) {
        if (i == mtLog_CmpTotalMemory && v < kCurrentLayout) r.Text(); // a text of older versions, no longer used
        if (!TextMissing(i, v)) customizedTexts_[static_cast<std::size_t>(i)] = r.Text();
    }
    if (v >= kCurrentLayout) FTextsCollection = r.Text();
    if (!oldFreezeMessage.empty()) SetCustomizedTexts(mtException_AntiFreeze, oldFreezeMessage);
}

} // namespace kv::crashreport
