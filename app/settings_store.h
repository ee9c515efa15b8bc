// The per-user settings store: the registry on Windows, an INI file on Linux. Names and
// texts are the program's 8-bit strings.
#pragma once

#include <string>

class CSettingsStore {
public:
    virtual ~CSettingsStore() = default;
    virtual int ReadInt(const std::string& strSection, const std::string& strEntry,
                        int nDefault) = 0;
    virtual std::string ReadString(const std::string& strSection, const std::string& strEntry,
                                   const std::string& strDefault) = 0;
    virtual bool WriteInt(const std::string& strSection, const std::string& strEntry,
                          int nValue) = 0;
    virtual bool WriteString(const std::string& strSection, const std::string& strEntry,
                             const std::string& strValue) = 0;
};
