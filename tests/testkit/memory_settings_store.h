// A settings store in memory for the dialog tests; records every write in order.
#pragma once

#include "app/settings_store.h"

#include <map>
#include <string>
#include <utility>

class CMemorySettingsStore : public CSettingsStore {
public:
    int ReadInt(const std::string& strSection, const std::string& strEntry, int nDefault) override {
        auto it = m_mapInts.find(Key(strSection, strEntry));
        return it == m_mapInts.end() ? nDefault : it->second;
    }
    std::string ReadString(const std::string& strSection, const std::string& strEntry,
                           const std::string& strDefault) override {
        auto it = m_mapStrings.find(Key(strSection, strEntry));
        return it == m_mapStrings.end() ? strDefault : it->second;
    }
    bool WriteInt(const std::string& strSection, const std::string& strEntry, int nValue) override {
        m_mapInts[Key(strSection, strEntry)] = nValue;
        m_strWriteOrder += strEntry + ";";
        return true;
    }
    bool WriteString(const std::string& strSection, const std::string& strEntry,
                     const std::string& strValue) override {
        m_mapStrings[Key(strSection, strEntry)] = strValue;
        m_strWriteOrder += strEntry + ";";
        return true;
    }

    std::string m_strWriteOrder;

private:
    static std::pair<std::string, std::string> Key(const std::string& a, const std::string& b) {
        return std::make_pair(a, b);
    }
    std::map<std::pair<std::string, std::string>, int> m_mapInts;
    std::map<std::pair<std::string, std::string>, std::string> m_mapStrings;
};
