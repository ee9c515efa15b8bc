// "TEXT" resources of the running executable.
#include "app/text_resource.h"

#include <windows.h>

#include <cstring>

std::string LoadTextResource(int nId) {
    HMODULE hModule = ::GetModuleHandleW(nullptr);
    HRSRC hInfo = ::FindResourceW(hModule, MAKEINTRESOURCEW(nId), L"TEXT");
    if (hInfo == nullptr)
        return std::string();
    HGLOBAL hData = ::LoadResource(hModule, hInfo);
    const char* pData =
        hData != nullptr ? static_cast<const char*>(::LockResource(hData)) : nullptr;
    DWORD nSize = ::SizeofResource(hModule, hInfo);
    if (pData == nullptr || nSize == 0)
        return std::string();
    const void* pZero = std::memchr(pData, 0, nSize);
    size_t nLen = pZero != nullptr ? static_cast<size_t>(static_cast<const char*>(pZero) - pData)
                                   : static_cast<size_t>(nSize);
    return std::string(pData, nLen);
}
