// The text of an INI settings file: sections of "name=value" lines, parsed from and
// written back to bytes. Integers are written bare, strings in double quotes with
// backslash escapes, so every string comes back exactly as it was written.
#pragma once

#include <string>
#include <utility>
#include <vector>

class CIniDocument {
public:
    // Parses strText. Returns false (and leaves the document empty) when the text is not
    // an INI file this program could have written: a NUL byte, a line that is neither
    // blank, a comment, a section header nor "name=value", a value before any section,
    // or a quoted value with a broken escape or no closing quote.
    bool Parse(const std::string& strText);
    std::string Serialize() const;

    // The raw value as stored (quotes and escapes removed); false when absent.
    bool GetValue(const std::string& strSection, const std::string& strName, std::string& strValue,
                  bool* pbQuoted = nullptr) const;
    void SetInt(const std::string& strSection, const std::string& strName, int nValue);
    void SetString(const std::string& strSection, const std::string& strName,
                   const std::string& strValue);
    bool Empty() const { return m_sections.empty(); }

private:
    struct CEntry {
        std::string strName;
        std::string strValue;
        bool bQuoted = false;
    };
    struct CSection {
        std::string strName;
        std::vector<CEntry> entries;
    };
    CEntry& Entry(const std::string& strSection, const std::string& strName);

    std::vector<CSection> m_sections;
};

// Decimal integer in the range of int, optional sign, nothing else; false otherwise.
bool ParseIniInt(const std::string& strText, int& nValue);
// The quoted form of a string value and its inverse.
std::string QuoteIniString(const std::string& strValue);
bool UnquoteIniString(const std::string& strQuoted, std::string& strValue);
