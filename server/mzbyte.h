// A growable byte buffer owning one heap block, used to build WebSocket frame headers.
#pragma once

#include <cstdint>

class MzByte {
public:
    MzByte() = default;
    virtual ~MzByte();
    MzByte(const MzByte&) = delete;
    MzByte& operator=(const MzByte&) = delete;

    // Resizes to nNewSize bytes and returns the block (null for size 0, or when memory
    // runs out, in which case the buffer is left empty). The old bytes are kept up to the
    // smaller size; bZero clears the first nNewSize bytes. The two bytes after the end
    // are always 0.
    unsigned char* SetSize(int32_t nNewSize, bool bZero);

    int32_t m_nSize = 0;
    unsigned char* m_pData = nullptr;
};
