#include "support/byte_stream.h"

bool SendAll(CByteStream& stream, const void* pData, size_t nLen) {
    const char* p = static_cast<const char*>(pData);
    while (nLen > 0) {
        int n = stream.Send(p, nLen);
        if (n <= 0)
            return false;
        p += n;
        nLen -= static_cast<size_t>(n);
    }
    return true;
}
