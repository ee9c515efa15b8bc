// A settings store in memory for the dialog tests.
#pragma once

#include "app/settings_store.h"

#include <map>
#include <string>
#include <utility>

class CMemorySettingsStore : public CSettingsStore {
public:
    using CKey = std::pair<std::string, std::string>; // section, entry

    int ReadInt(const std::string& strSection, const std::string& strEntry, int nDefault) override {
        auto it = m_mapInts.find({strSection, strEntry});
        return it == m_mapInts.end() ? nDefault : it->second;
    }
    std::string ReadString(const std::string& strSection, const std::string& strEntry,
                           const std::string& strDefault) override {
        auto it = m_mapStrings.find({strSection, strEntry});
        return it == m_mapStrings.end() ? strDefault : it->second;
    }
    bool WriteInt(const std::string& strSection, const std::string& strEntry, int nValue) override {
        m_mapInts[{strSection, strEntry}] = nValue;
        return true;
    }
    bool WriteString(const std::string& strSection, const std::string& strEntry,
                     const std::string& strValue) override {
        m_mapStrings[{strSection, strEntry}] = strValue;
        return true;
    }

private:
    std::map<CKey, int> m_mapInts;
    std::map<CKey, std::string> m_mapStrings;
};
