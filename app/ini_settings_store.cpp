// The INI settings store's file side: where the file lives, reading it, and replacing
// it atomically.
#include "app/ini_settings_store.h"

#include "app/ini_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool ReadWholeFile(const std::string& strPath, std::string& strText) {
    int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    strText.clear();
    char szBuf[4096];
    for (;;) {
        ssize_t n = read(fd, szBuf, sizeof(szBuf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        strText.append(szBuf, static_cast<size_t>(n));
        if (strText.size() > (1u << 20)) {
            // Far larger than anything this program writes: not our file.
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

bool WriteAll(int fd, const std::string& strText) {
    size_t nDone = 0;
    while (nDone < strText.size()) {
        ssize_t n = write(fd, strText.data() + nDone, strText.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        nDone += static_cast<size_t>(n);
    }
    return true;
}

// mkdir -p for the folders above strPath's file name.
bool MakeParentDirs(const std::string& strPath) {
    for (size_t nSlash = strPath.find('/', 1); nSlash != std::string::npos;
         nSlash = strPath.find('/', nSlash + 1)) {
        std::string strDir = strPath.substr(0, nSlash);
        if (mkdir(strDir.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

std::string CIniSettingsStore::DefaultPath(const std::string& strAppName) {
    std::string strBase;
    const char* pszXdg = std::getenv("XDG_CONFIG_HOME");
    if (pszXdg != nullptr && pszXdg[0] == '/') {
        strBase = pszXdg;
    } else {
        const char* pszHome = std::getenv("HOME");
        std::string strHome = pszHome != nullptr ? pszHome : "";
        if (strHome.empty()) {
            struct passwd* pw = getpwuid(getuid());
            if (pw != nullptr && pw->pw_dir != nullptr)
                strHome = pw->pw_dir;
        }
        if (strHome.empty())
            return std::string();
        strBase = strHome + "/.config";
    }
    while (strBase.size() > 1 && strBase.back() == '/')
        strBase.pop_back();
    return strBase + "/" + strAppName + "/settings.ini";
}

bool CIniSettingsStore::Load(CIniDocument& doc) const {
    std::string strText;
    if (m_strPath.empty() || !ReadWholeFile(m_strPath, strText))
        return false;
    return doc.Parse(strText);
}

int CIniSettingsStore::ReadInt(const std::string& strSection, const std::string& strName,
                               int nDefault) {
    CIniDocument doc;
    std::string strValue;
    bool bQuoted = false;
    int nValue = 0;
    if (Load(doc) && doc.GetValue(strSection, strName, strValue, &bQuoted) && !bQuoted &&
        ParseIniInt(strValue, nValue))
        return nValue;
    return nDefault;
}

std::string CIniSettingsStore::ReadString(const std::string& strSection, const std::string& strName,
                                          const std::string& strDefault) {
    CIniDocument doc;
    std::string strValue;
    if (Load(doc) && doc.GetValue(strSection, strName, strValue))
        return strValue;
    return strDefault;
}

bool CIniSettingsStore::Store(const CIniDocument& doc) {
    if (m_strPath.empty()) {
        errno = ENOENT;
        return false;
    }
    return WriteFileAtomically(m_strPath, doc.Serialize());
}

bool CIniSettingsStore::WriteInt(const std::string& strSection, const std::string& strName,
                                 int nValue) {
    CIniDocument doc;
    if (!Load(doc))
        doc = CIniDocument(); // missing or damaged: start a clean file
    doc.SetInt(strSection, strName, nValue);
    return Store(doc);
}

bool CIniSettingsStore::WriteString(const std::string& strSection, const std::string& strName,
                                    const std::string& strValue) {
    CIniDocument doc;
    if (!Load(doc))
        doc = CIniDocument();
    doc.SetString(strSection, strName, strValue);
    return Store(doc);
}

bool WriteFileAtomically(const std::string& strPath, const std::string& strText) {
    size_t nSlash = strPath.rfind('/');
    std::string strDir = nSlash == std::string::npos ? std::string(".")
                         : nSlash == 0               ? std::string("/")
                                                     : strPath.substr(0, nSlash);
    if (!MakeParentDirs(strPath))
        return false;

    std::string strTemp = strPath + ".XXXXXX";
    int fd = mkostemp(&strTemp[0], O_CLOEXEC);
    if (fd < 0)
        return false;
    bool bOk = fchmod(fd, 0600) == 0 && WriteAll(fd, strText) && fsync(fd) == 0;
    int nError = errno;
    if (close(fd) != 0 && bOk) {
        bOk = false;
        nError = errno;
    }
    if (bOk && rename(strTemp.c_str(), strPath.c_str()) != 0) {
        bOk = false;
        nError = errno;
    }
    if (!bOk) {
        unlink(strTemp.c_str());
        errno = nError;
        return false;
    }
    // The rename itself is only durable once the folder's entry is on the disk.
    int fdDir = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir >= 0) {
        fsync(fdDir);
        close(fdDir);
    }
    return true;
}
