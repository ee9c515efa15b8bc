#include "support/process_paths.h"

#include "support/platform.h"

std::string ProcessDirectoryOf(const std::string& strImagePath, char chSeparator) {
    std::string::size_type nPos = strImagePath.rfind(chSeparator);
    if (strImagePath.empty() || nPos == std::string::npos)
        return strImagePath;
    return strImagePath.substr(0, nPos + 1);
}

std::string ProcessBaseNameOf(const std::string& strImagePath, char chSeparator) {
    std::string::size_type nPos = strImagePath.rfind(chSeparator);
    if (nPos == std::string::npos)
        return std::string();
    std::string strName = strImagePath.substr(nPos + 1);
    std::string::size_type nDot = strName.rfind('.');
    if (nDot == std::string::npos)
        return strName;
    return strName.substr(0, nDot);
}

std::string GetProcessDirectory() {
    return ProcessDirectoryOf(GetProcessImagePath(), PathSeparator());
}

std::string GetProcessBaseName() {
    return ProcessBaseNameOf(GetProcessImagePath(), PathSeparator());
}
