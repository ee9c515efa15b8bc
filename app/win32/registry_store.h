// Settings in the per-user registry, under HKEY_CURRENT_USER, Software, company,
// application, section; integers as REG_DWORD and strings as REG_SZ, names in UTF-16.
#pragma once

#include "app/settings_store.h"

#include <string>

class CRegistrySettingsStore : public CSettingsStore {
public:
    CRegistrySettingsStore(const std::string& strCompany, const std::string& strApplication);

    int ReadInt(const std::string& strSection, const std::string& strEntry, int nDefault) override;
    std::string ReadString(const std::string& strSection, const std::string& strEntry,
                           const std::string& strDefault) override;
    bool WriteInt(const std::string& strSection, const std::string& strEntry, int nValue) override;
    bool WriteString(const std::string& strSection, const std::string& strEntry,
                     const std::string& strValue) override;

private:
    std::wstring KeyPath(const std::string& strSection) const;
    std::string m_strCompany;
    std::string m_strApplication;
};
