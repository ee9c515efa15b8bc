#include "support/byte_stream.h"

#include <memory>

asio::awaitable<bool> SendAll(CByteStream& stream, const void* pData, size_t nLen) {
    const char* p = static_cast<const char*>(pData);
    while (nLen > 0) {
        const int n = co_await stream.Send(p, nLen);
        if (n <= 0)
            co_return false;
        p += n;
        nLen -= static_cast<size_t>(n);
    }
    co_return true;
}

asio::awaitable<bool> RecvAll(CByteStream& stream, void* pData, size_t nLen) {
    char* p = static_cast<char*>(pData);
    while (nLen > 0) {
        const int n = co_await stream.Recv(p, nLen);
        if (n <= 0)
            co_return false;
        p += n;
        nLen -= static_cast<size_t>(n);
    }
    co_return true;
}

char* ScratchBuffer() {
    thread_local const std::unique_ptr<char[]> pBuffer(new char[kScratchSize]);
    return pBuffer.get();
}
