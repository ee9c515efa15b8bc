#include "support/byte_stream.h"

namespace {

// Repeats fnMove (one send or receive) until nLen bytes have moved; false on a call that
// moves nothing.
template <typename TByte, typename FnMove> bool MoveAll(TByte* p, size_t nLen, FnMove fnMove) {
    while (nLen > 0) {
        int n = fnMove(p, nLen);
        if (n <= 0)
            return false;
        p += n;
        nLen -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool SendAll(CByteStream& stream, const void* pData, size_t nLen) {
    return MoveAll(static_cast<const char*>(pData), nLen,
                   [&](const char* p, size_t n) { return stream.Send(p, n); });
}

bool RecvAll(CByteStream& stream, void* pData, size_t nLen) {
    return MoveAll(static_cast<char*>(pData), nLen,
                   [&](char* p, size_t n) { return stream.Recv(p, n); });
}
