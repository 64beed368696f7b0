#pragma once
// Options streams of earlier versions, written field by field as those
// versions did (for the options-stream and reporter-data tests).
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "crashreport/core/ETypes.h"

namespace kvtest::legacy {

struct LegacyValues {
    std::uint8_t dialogByte = 1;
    std::uint8_t sendBytes[3] = {1, 0, 1};
    std::uint8_t foregroundTab = kv::crashreport::ftProcesses;
    std::uint8_t topMostByte = 1;
    std::int32_t freezeTimeout = 5000;
    std::string freezeMessage = "Frozen!";
    std::string smtpHost = "";
    std::uint8_t terminateByte = 0;
    std::uint8_t emailMode = kv::crashreport::esmNoSend;
    std::string showBytes = std::string(5, '\xFF');
    std::vector<std::pair<std::string, std::string>> filters = {{"EAbort", ""}, {"EOutOfMemory", "No memory"}};
};

class LegacyWriter {
public:
    void Byte(int v) { bytes_ += static_cast<char>(v); }
    void Word(int v) { Raw(&v, 2); }
    void Int(std::int32_t v) { Raw(&v, 4); }
    void Text(const std::string& t)
    {
        Int(static_cast<std::int32_t>(t.size()));
        for (char c : t) Byte(c ^ 0xD6);
    }
    const std::string& Data() const { return bytes_; }

private:
    void Raw(const void* p, std::size_t n) { bytes_.append(static_cast<const char*>(p), n); }
    std::string bytes_;
};

// Whether text i is present in a stream of version v (the inverse rule, written out).
inline bool TextPresent(int i, int v)
{
    const auto in = [i](std::initializer_list<int> set) { return std::find(set.begin(), set.end(), i) != set.end(); };
    const bool setA = in({9, 10, 15, 16, 22, 23, 24, 41, 68, 81});
    const bool setB = in({25, 42, 72, 73, 74, 75, 76, 77, 84, 85, 86, 87, 88, 89, 90, 91, 98, 99, 100, 101, 102, 103,
                          104, 131, 144, 145});
    const bool setC = in({2,   11,  12,  13,  14,  21,  26,  27,  28,  29,  30,  31,  32,  33,  34,  35,
                          36,  43,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  83,  105, 106, 107,
                          108, 109, 113, 117, 118, 119, 120, 121, 122, 133, 134, 135, 136, 137, 138, 139,
                          140, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 156, 157});
    if (i == 20 && v < 420) return false;
    if (i == 19 && v < 421) return false;
    if ((setA || i >= 110 || i == 47 || i == 48) && v < 450) return false;
    if (setB && v < 500) return false;
    if (i == 41 && v < 6000) return false;
    if ((i == 17 || i == 18) && v >= 500 && v < 6000) return false;
    if (setC && v < 6000) return false;
    return true;
}

inline std::string LegacyStream(int v, const LegacyValues& x)
{
    LegacyWriter w;
    w.Byte(1); // ActivateLog
    w.Byte(1); // ActivateHandle
    w.Byte(0x01); // LogOptions
    if (v < 500) w.Byte(x.dialogByte);
    w.Byte(1); // AppendLogs
    if (v >= 450 && v < 500)
        for (std::uint8_t b : x.sendBytes) w.Byte(b);
    if (v > 400) {
        w.Byte(0); // SaveLogFile
        w.Byte(x.foregroundTab);
    }
    if (v > 402 && v < 500) w.Byte(x.topMostByte);
    if (v >= 420) {
        w.Byte(1);
        w.Int(x.freezeTimeout);
        w.Text(x.freezeMessage);
        if (v >= 450) w.Text("old@example.org");
        w.Text(x.smtpHost);
    }
    if (v >= 450) w.Word(2525);
    if (v > 420) {
        w.Text("user");
        w.Text("pass");
        w.Byte(kv::crashreport::tbTerminate);
    }
    w.Byte(x.terminateByte);
    w.Int(12);
    w.Int(4);
    w.Text("to@example.org");
    w.Text("subject");
    w.Byte(x.emailMode);
    for (std::size_t i = 0; i < (v < 500 ? 4u : 5u); ++i) w.Byte(static_cast<std::uint8_t>(x.showBytes[i]));
    if (v < 450) w.Byte(0x55); // ignored
    w.Text("C:\\old-logs");
    if (v >= 500) {
        w.Byte(kv::crashreport::wsmHTTP);
        w.Text("http://old/");
        w.Text("wu");
        w.Text("wp");
        w.Int(81);
        w.Text("att.txt");
        w.Word(0x03FF);
        w.Byte(0x8F);
        w.Int(15);
        w.Text("http://support/");
        w.Text("<html/>");
        w.Byte(0x01);
        w.Byte(0x09);
        w.Byte(kv::crashreport::tbTerminate);
        w.Int(7);
        w.Int(3);
    }
    w.Int(static_cast<std::int32_t>(x.filters.size()));
    for (const auto& [name, message] : x.filters) {
        w.Text(name);
        w.Text(message);
    }
    w.Text("mail body");
    for (int i = 0; i < kv::crashreport::MessageTypeCount; ++i) {
        if (i == 68) w.Text("dropped");
        if (TextPresent(i, v)) w.Text("Legacy " + std::to_string(i));
    }
    return w.Data();
}

} // namespace kvtest::legacy
