#include "crashreport/output/EListView.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace kv::crashreport {

int GetDefaultAnsiCharset()
{
    char buffer[6] = {};
    UINT codePage = 0;
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, buffer, sizeof buffer) > 0) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(buffer, &end, 10);
        if (end != buffer && *end == '\0') codePage = static_cast<UINT>(value);
    }
    if (codePage == 0) codePage = ::GetACP();
    CHARSETINFO info{};
    if (!::TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<std::uintptr_t>(codePage)), &info,
                                TCI_SRCCODEPAGE)) {
        return DEFAULT_CHARSET;
    }
    return static_cast<int>(info.ciCharset);
}

} // namespace kv::crashreport
