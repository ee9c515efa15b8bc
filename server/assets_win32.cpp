// Built-in texts of the Windows build: resources of type "TEXT" in the executable.
#include "server/assets.h"

#include <windows.h>

std::string LoadTextResource(int nId) {
    HMODULE hModule = GetModuleHandleA(nullptr);
    HRSRC hInfo = FindResourceA(hModule, MAKEINTRESOURCEA(nId), "TEXT");
    if (hInfo == nullptr)
        return std::string();
    HGLOBAL hData = LoadResource(hModule, hInfo);
    if (hData == nullptr)
        return std::string();
    const void* pData = LockResource(hData);
    DWORD nSize = SizeofResource(hModule, hInfo);
    if (pData == nullptr || nSize == 0)
        return std::string();
    std::string strText(static_cast<const char*>(pData), nSize);
    // Resources need no unlocking or freeing: they live as long as the module.
    size_t nNul = strText.find('\0');
    if (nNul != std::string::npos)
        strText.erase(nNul);
    return strText;
}
