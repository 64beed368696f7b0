#include "common/RegistryTestSupport.h"

#include <windows.h>

#include "platform/Registry.h"

namespace kvtest {

std::string UnicodeRegFile(std::wstring_view body)
{
    const std::wstring text = L"Windows Registry Editor Version 5.00\r\n\r\n" + std::wstring(body);
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

void MarkKey(const std::wstring& key, const wchar_t* name)
{
    kv::RegistryKey::Create(HKEY_CURRENT_USER, key).WriteDword(name, 1);
}

bool HasMark(const std::wstring& key, const wchar_t* name)
{
    return kv::RegistryKey::Open(HKEY_CURRENT_USER, key).ValueExists(name);
}

} // namespace kvtest
