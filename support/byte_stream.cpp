#include "support/byte_stream.h"

#include <memory>

namespace {

// Repeats one send or receive until nLen bytes have moved; false on a call that moves
// nothing.
template <typename TByte, typename FnMove>
asio::awaitable<bool> MoveAll(TByte* p, size_t nLen, FnMove fnMove) {
    while (nLen > 0) {
        const int n = co_await fnMove(p, nLen);
        if (n <= 0)
            co_return false;
        p += n;
        nLen -= static_cast<size_t>(n);
    }
    co_return true;
}

} // namespace

asio::awaitable<bool> SendAll(CByteStream& stream, const void* pData, size_t nLen) {
    return MoveAll(static_cast<const char*>(pData), nLen,
                   [&stream](const char* p, size_t n) { return stream.Send(p, n); });
}

asio::awaitable<bool> RecvAll(CByteStream& stream, void* pData, size_t nLen) {
    return MoveAll(static_cast<char*>(pData), nLen,
                   [&stream](char* p, size_t n) { return stream.Recv(p, n); });
}

char* ScratchBuffer() {
    thread_local const std::unique_ptr<char[]> pBuffer(new char[kScratchSize]);
    return pBuffer.get();
}
