// Parsing and writing of the INI settings text.
#include "app/ini_file.h"

#include "support/ascii.h"

#include <climits>

namespace {

std::string Trim(const std::string& s) {
    size_t nBegin = s.find_first_not_of(" \t\r");
    if (nBegin == std::string::npos)
        return std::string();
    size_t nEnd = s.find_last_not_of(" \t\r");
    return s.substr(nBegin, nEnd - nBegin + 1);
}

// Section and value names compare without regard to ASCII case, as the registry's do.
bool SameName(const std::string& a, const std::string& b) {
    return EqualsNoCaseAscii(a, b);
}

} // namespace

bool ParseIniInt(const std::string& strText, int& nValue) {
    return ParseDecimalInt(strText, nValue);
}

std::string QuoteIniString(const std::string& strValue) {
    return QuoteEscaped(strValue, false);
}

bool UnquoteIniString(const std::string& strQuoted, std::string& strValue) {
    if (strQuoted.size() < 2 || strQuoted.front() != '"' || strQuoted.back() != '"')
        return false;
    std::string strOut;
    for (size_t i = 1; i + 1 < strQuoted.size(); ++i) {
        char ch = strQuoted[i];
        if (ch == '"')
            return false;
        if (ch != '\\') {
            strOut += ch;
            continue;
        }
        if (i + 2 >= strQuoted.size())
            return false; // a backslash that escapes the closing quote
        char chNext = strQuoted[++i];
        switch (chNext) {
        case '\\':
        case '"':
            strOut += chNext;
            break;
        case 'n':
            strOut += '\n';
            break;
        case 'r':
            strOut += '\r';
            break;
        case 't':
            strOut += '\t';
            break;
        default:
            return false;
        }
    }
    strValue = strOut;
    return true;
}

bool CIniDocument::Parse(const std::string& strText) {
    m_sections.clear();
    if (strText.find('\0') != std::string::npos)
        return false;
    std::vector<CSection> sections;
    size_t nPos = 0;
    while (nPos < strText.size()) {
        size_t nEol = strText.find('\n', nPos);
        if (nEol == std::string::npos)
            nEol = strText.size();
        std::string strLine = Trim(strText.substr(nPos, nEol - nPos));
        nPos = nEol + 1;
        if (strLine.empty() || strLine[0] == ';' || strLine[0] == '#')
            continue;
        if (strLine[0] == '[') {
            if (strLine.back() != ']' || strLine.size() < 3)
                return false;
            CSection section;
            section.strName = Trim(strLine.substr(1, strLine.size() - 2));
            if (section.strName.empty())
                return false;
            sections.push_back(section);
            continue;
        }
        size_t nEq = strLine.find('=');
        if (nEq == std::string::npos || sections.empty())
            return false;
        CEntry entry;
        entry.strName = Trim(strLine.substr(0, nEq));
        std::string strRaw = Trim(strLine.substr(nEq + 1));
        if (entry.strName.empty())
            return false;
        if (!strRaw.empty() && strRaw[0] == '"') {
            if (!UnquoteIniString(strRaw, entry.strValue))
                return false;
            entry.bQuoted = true;
        } else {
            entry.strValue = strRaw;
        }
        sections.back().entries.push_back(entry);
    }
    m_sections = std::move(sections);
    return true;
}

std::string CIniDocument::Serialize() const {
    std::string strOut;
    for (const CSection& section : m_sections) {
        if (!strOut.empty())
            strOut += '\n';
        strOut += "[" + section.strName + "]\n";
        for (const CEntry& entry : section.entries) {
            strOut += entry.strName + "=";
            strOut += entry.bQuoted ? QuoteIniString(entry.strValue) : entry.strValue;
            strOut += '\n';
        }
    }
    return strOut;
}

bool CIniDocument::GetValue(const std::string& strSection, const std::string& strName,
                            std::string& strValue, bool* pbQuoted) const {
    // A name given twice: the last one counts, as it would for a reader that assigns.
    bool bFound = false;
    for (const CSection& section : m_sections) {
        if (!SameName(section.strName, strSection))
            continue;
        for (const CEntry& entry : section.entries) {
            if (SameName(entry.strName, strName)) {
                strValue = entry.strValue;
                if (pbQuoted != nullptr)
                    *pbQuoted = entry.bQuoted;
                bFound = true;
            }
        }
    }
    return bFound;
}

CIniDocument::CEntry& CIniDocument::Entry(const std::string& strSection,
                                          const std::string& strName) {
    CSection* pSection = nullptr;
    for (CSection& section : m_sections) {
        if (SameName(section.strName, strSection))
            pSection = &section;
    }
    if (pSection == nullptr) {
        m_sections.push_back(CSection{strSection, {}});
        pSection = &m_sections.back();
    }
    CEntry* pEntry = nullptr;
    for (CEntry& entry : pSection->entries) {
        if (SameName(entry.strName, strName))
            pEntry = &entry;
    }
    if (pEntry == nullptr) {
        pSection->entries.push_back(CEntry{strName, std::string(), false});
        pEntry = &pSection->entries.back();
    }
    return *pEntry;
}

void CIniDocument::SetInt(const std::string& strSection, const std::string& strName, int nValue) {
    CEntry& entry = Entry(strSection, strName);
    entry.strValue = std::to_string(nValue);
    entry.bQuoted = false;
}

void CIniDocument::SetString(const std::string& strSection, const std::string& strName,
                             const std::string& strValue) {
    CEntry& entry = Entry(strSection, strName);
    entry.strValue = strValue;
    entry.bQuoted = true;
}
