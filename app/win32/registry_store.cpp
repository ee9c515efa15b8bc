// Registry backend of the settings store.
#include "app/win32/registry_store.h"

#include "support/text_win32.h"

#include <windows.h>

#include <vector>

namespace {

// Closes a registry key when it goes out of scope.
class CRegKey {
public:
    CRegKey() = default;
    ~CRegKey() {
        if (m_hKey != nullptr)
            ::RegCloseKey(m_hKey);
    }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    HKEY* Receive() { return &m_hKey; }
    HKEY Get() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

} // namespace

CRegistrySettingsStore::CRegistrySettingsStore(const std::string& strCompany,
                                               const std::string& strApplication)
    : m_strCompany(strCompany), m_strApplication(strApplication) {}

std::wstring CRegistrySettingsStore::KeyPath(const std::string& strSection) const {
    return L"Software\\" + WideFromProgramText(m_strCompany) + L"\\" +
           WideFromProgramText(m_strApplication) + L"\\" + WideFromProgramText(strSection);
}

int CRegistrySettingsStore::ReadInt(const std::string& strSection, const std::string& strEntry,
                                    int nDefault) {
    CRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(strSection).c_str(), 0, KEY_READ,
                        key.Receive()) != ERROR_SUCCESS)
        return nDefault;
    DWORD dwType = 0;
    DWORD dwValue = 0;
    DWORD cbValue = sizeof(dwValue);
    if (::RegQueryValueExW(key.Get(), WideFromProgramText(strEntry).c_str(), nullptr, &dwType,
                           reinterpret_cast<BYTE*>(&dwValue), &cbValue) != ERROR_SUCCESS ||
        dwType != REG_DWORD)
        return nDefault;
    return static_cast<int>(dwValue);
}

std::string CRegistrySettingsStore::ReadString(const std::string& strSection,
                                               const std::string& strEntry,
                                               const std::string& strDefault) {
    CRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(strSection).c_str(), 0, KEY_READ,
                        key.Receive()) != ERROR_SUCCESS)
        return strDefault;
    std::wstring strName = WideFromProgramText(strEntry);
    DWORD dwType = 0;
    DWORD cbData = 0;
    if (::RegQueryValueExW(key.Get(), strName.c_str(), nullptr, &dwType, nullptr, &cbData) !=
            ERROR_SUCCESS ||
        dwType != REG_SZ)
        return strDefault;
    std::vector<wchar_t> buffer(cbData / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key.Get(), strName.c_str(), nullptr, &dwType,
                           reinterpret_cast<BYTE*>(buffer.data()), &cbData) != ERROR_SUCCESS)
        return strDefault;
    return ProgramTextFromWide(buffer.data());
}

bool CRegistrySettingsStore::WriteInt(const std::string& strSection, const std::string& strEntry,
                                      int nValue) {
    CRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(strSection).c_str(), 0, nullptr, 0, KEY_WRITE,
                          nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return false;
    DWORD dwValue = static_cast<DWORD>(nValue);
    return ::RegSetValueExW(key.Get(), WideFromProgramText(strEntry).c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&dwValue),
                            sizeof(dwValue)) == ERROR_SUCCESS;
}

bool CRegistrySettingsStore::WriteString(const std::string& strSection, const std::string& strEntry,
                                         const std::string& strValue) {
    CRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(strSection).c_str(), 0, nullptr, 0, KEY_WRITE,
                          nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring strWide = WideFromProgramText(strValue);
    DWORD cbData = static_cast<DWORD>((strWide.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.Get(), WideFromProgramText(strEntry).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(strWide.c_str()),
                            cbData) == ERROR_SUCCESS;
}
