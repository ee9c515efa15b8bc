// Replacement files and path joining; the built-in copies come from the platform file.
#include "server/assets.h"

#include "support/platform.h"
#include "support/process_paths.h"

#include <cstdio>
#include <cstdint>
#include <memory>
#include <utility>

namespace {

void AppendUtf8(std::string& strOut, uint32_t nCode) {
    if (nCode < 0x80) {
        strOut += static_cast<char>(nCode);
    } else if (nCode < 0x800) {
        strOut += static_cast<char>(0xC0 | (nCode >> 6));
        strOut += static_cast<char>(0x80 | (nCode & 0x3F));
    } else if (nCode < 0x10000) {
        strOut += static_cast<char>(0xE0 | (nCode >> 12));
        strOut += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
        strOut += static_cast<char>(0x80 | (nCode & 0x3F));
    } else {
        strOut += static_cast<char>(0xF0 | (nCode >> 18));
        strOut += static_cast<char>(0x80 | ((nCode >> 12) & 0x3F));
        strOut += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
        strOut += static_cast<char>(0x80 | (nCode & 0x3F));
    }
}

// UTF-16LE bytes to UTF-8, stopping at the first NUL unit. An odd last byte counts as a
// unit whose high byte is 0; a surrogate without its partner becomes U+FFFD.
std::string Utf16LeToUtf8(const std::string& strBytes, size_t nStart) {
    std::string strOut;
    strOut.reserve(strBytes.size() - nStart);
    auto unitAt = [&](size_t i) -> uint32_t {
        uint32_t lo = static_cast<unsigned char>(strBytes[i]);
        uint32_t hi = i + 1 < strBytes.size() ? static_cast<unsigned char>(strBytes[i + 1]) : 0;
        return lo | (hi << 8);
    };
    for (size_t i = nStart; i < strBytes.size(); i += 2) {
        uint32_t u = unitAt(i);
        if (u == 0)
            break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 2 < strBytes.size()) {
            uint32_t u2 = unitAt(i + 2);
            if (u2 >= 0xDC00 && u2 <= 0xDFFF) {
                AppendUtf8(strOut, 0x10000 + ((u - 0xD800) << 10) + (u2 - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF)
            u = 0xFFFD;
        AppendUtf8(strOut, u);
    }
    return strOut;
}

std::string UpToNul(const std::string& strBytes, size_t nStart) {
    size_t nNul = strBytes.find('\0', nStart);
    return strBytes.substr(nStart, nNul == std::string::npos ? std::string::npos : nNul - nStart);
}

struct CFileCloser {
    void operator()(FILE* pFile) const { std::fclose(pFile); }
};

} // namespace

void LoadPageTexts(CPageTexts& texts) {
    const std::pair<std::string*, int> entries[] = {
        {&texts.strPageHtml, kResPageHtml},   {&texts.strButtonsCss, kResButtonsCss},
        {&texts.strEchartsJs, kResEchartsJs}, {&texts.strFullHtml, kResFullHtml},
        {&texts.strFullJs, kResFullJs},       {&texts.strResultsHtml, kResResultsHtml},
        {&texts.strQrcodeJs, kResQrcodeJs}};
    for (const auto& entry : entries) {
        if (entry.first->empty())
            *entry.first = LoadTextResource(entry.second);
    }
}

std::string CombinePath(const std::string& strDir, const std::string& strName, char chSeparator) {
    if (strName.empty())
        return std::string();
    if ((strName.size() >= 2 && strName[1] == ':') ||
        (strName.size() >= 2 && strName[0] == chSeparator && strName[1] == chSeparator))
        return strName;
    std::string strFile = strName[0] == chSeparator ? strName.substr(1) : strName;
    std::string strBase = strDir;
    const size_t n = strBase.size();
    if (n >= 2 && strBase[n - 1] == chSeparator && strBase[n - 2] == chSeparator)
        strBase.erase(n - 1);
    else if (n > 0 && strBase[n - 1] != chSeparator)
        strBase += chSeparator;
    return strBase + strFile;
}

std::string CombinePath(const std::string& strDir, const std::string& strName) {
    return CombinePath(strDir, strName, PathSeparator());
}

std::string DecodeTextFileBytes(const std::string& strBytes) {
    const size_t n = strBytes.size();
    if (n >= 3 && static_cast<unsigned char>(strBytes[0]) == 0xEF &&
        static_cast<unsigned char>(strBytes[1]) == 0xBB &&
        static_cast<unsigned char>(strBytes[2]) == 0xBF)
        return UpToNul(strBytes, 3); // already UTF-8: only the mark goes
    if (n >= 2 && static_cast<unsigned char>(strBytes[0]) == 0xFF &&
        static_cast<unsigned char>(strBytes[1]) == 0xFE)
        return Utf16LeToUtf8(strBytes, 2);
    return UpToNul(strBytes, 0);
}

std::string ReadTextFileAt(const std::string& strPath) {
    // fopen shares the file for reading and writing with other processes on every
    // platform we build for, so a file being edited can still be served.
    std::unique_ptr<FILE, CFileCloser> pFile(std::fopen(strPath.c_str(), "rb"));
    if (!pFile)
        return std::string();
    std::string strBytes;
    char buf[16384];
    size_t nRead;
    while ((nRead = std::fread(buf, 1, sizeof(buf), pFile.get())) > 0)
        strBytes.append(buf, nRead);
    if (std::ferror(pFile.get()))
        return std::string();
    return DecodeTextFileBytes(strBytes);
}

std::string ReadTextFile(const std::string& strName) {
    return ReadTextFileAt(CombinePath(GetProcessDirectory(), strName));
}

const std::string& SelectBody(const char* pszFileName, const std::string& strBuiltIn,
                              std::string& strStorage) {
    strStorage = ReadTextFile(pszFileName);
    return strStorage.empty() ? strBuiltIn : strStorage;
}
