#include "server/mzbyte.h"

#include <cstdlib>
#include <cstring>

MzByte::~MzByte() {
    std::free(m_pData);
}

unsigned char* MzByte::SetSize(int32_t nNewSize, bool bZero) {
    if (nNewSize <= 0) {
        std::free(m_pData);
        m_pData = nullptr;
        m_nSize = 0;
        return nullptr;
    }
    const size_t nBytes = static_cast<size_t>(nNewSize) + 2;
    unsigned char* pBlock = m_pData;
    if (pBlock == nullptr)
        pBlock = static_cast<unsigned char*>(std::malloc(nBytes));
    else if (nNewSize != m_nSize)
        pBlock = static_cast<unsigned char*>(std::realloc(m_pData, nBytes));
    if (pBlock == nullptr) {
        // Out of memory: drop what there was rather than hand back a short block.
        std::free(m_pData);
        m_pData = nullptr;
        m_nSize = 0;
        return nullptr;
    }
    m_pData = pBlock;
    if (bZero)
        std::memset(m_pData, 0, static_cast<size_t>(nNewSize));
    m_pData[nNewSize] = 0;
    m_pData[nNewSize + 1] = 0;
    m_nSize = nNewSize;
    return m_pData;
}
