// A byte stream in memory: receives come from a text in chunks of a chosen size, and each
// send can be cut short or failed at chosen points, so partial sends play out exactly.
// Every call completes at once; RunSync drives a coroutine over it to its end.
#pragma once

#include "support/byte_stream.h"

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

// Runs a coroutine on a private io_context until it ends; its result (or its exception).
template <typename T> T RunSync(asio::awaitable<T> task) {
    asio::io_context ctx;
    auto result = asio::co_spawn(ctx, std::move(task), asio::use_future);
    ctx.run();
    return result.get();
}

class CMemoryStream final : public CByteStream {
public:
    explicit CMemoryStream(std::string strInput = std::string(), size_t nRecvChunk = 65536)
        : m_strInput(std::move(strInput)), m_nRecvChunk(nRecvChunk) {}

    asio::awaitable<int> Send(const void* pData, size_t nLen) override {
        size_t nTake = nLen;
        if (m_nSendCalls < m_vecSendCuts.size()) {
            const long nCut = m_vecSendCuts[m_nSendCalls];
            if (nCut < 0)
                co_return -1;
            nTake = std::min(nTake, static_cast<size_t>(nCut));
        }
        ++m_nSendCalls;
        if (m_strOutput.size() >= m_nSendCapacity)
            co_return -1;
        nTake = std::min(nTake, m_nSendCapacity - m_strOutput.size());
        m_strOutput.append(static_cast<const char*>(pData), nTake);
        Moved(nTake);
        co_return static_cast<int>(nTake);
    }
    asio::awaitable<int> Recv(void* pData, size_t nLen) override {
        const size_t nTake = std::min({nLen, m_nRecvChunk, m_strInput.size() - m_nReadPos});
        std::memcpy(pData, m_strInput.data() + m_nReadPos, nTake);
        m_nReadPos += nTake;
        Moved(nTake);
        co_return static_cast<int>(nTake); // 0 once the input is used up: the peer closed
    }
    int PollReadableNow() override { return m_nReadPos < m_strInput.size() ? 1 : 0; }

    // Per send call, the most it takes (a negative entry fails that call); later calls
    // take what they are given.
    std::vector<long> m_vecSendCuts;
    // Sends fail once this many bytes have been taken in all.
    size_t m_nSendCapacity = static_cast<size_t>(-1);
    std::string m_strOutput;
    size_t m_nSendCalls = 0;

private:
    std::string m_strInput;
    size_t m_nRecvChunk;
    size_t m_nReadPos = 0;
};
