#include "engine/raw_stream.h"

#include "engine/rate_pacer.h"
#include "engine/send_pattern.h"

#include <algorithm>

asio::awaitable<uint64_t> SendPatternStream(CKestrunEngine& engine, CByteStream& stream,
                                            CRatePacer* pPacer) {
    const char* pPattern = SendPattern();
    size_t nOffset = 0;
    uint64_t nTotal = 0;
    // The pacer's rate is fixed: its step is too.
    const size_t nStep = pPacer != nullptr ? pPacer->StepBytes(kRawSendBytes) : kRawSendBytes;
    stream.PrepareBulkSend();
    for (;;) {
        const size_t nChunk = std::min(nStep, kSendPatternSize - nOffset);
        const int n = co_await stream.Send(pPattern + nOffset, nChunk);
        if (n < 1)
            co_return nTotal;
        engine.AddSendBytes(static_cast<uint64_t>(n));
        stream.CountSent(static_cast<uint64_t>(n));
        nTotal += static_cast<uint64_t>(n);
        nOffset = (nOffset + static_cast<size_t>(n)) % kSendPatternSize;
        if (pPacer != nullptr)
            co_await pPacer->Moved(static_cast<size_t>(n));
    }
}

asio::awaitable<uint64_t> ReceiveCountedStream(CKestrunEngine& engine, CByteStream& stream,
                                               CRatePacer* pPacer) {
    uint64_t nTotal = 0;
    const size_t nMax = CKestrunEngine::kRecvBufferSize;
    const size_t nStep = pPacer != nullptr ? pPacer->StepBytes(nMax) : nMax;
    for (;;) {
        const int n = co_await stream.Recv(ScratchBuffer(), nStep);
        if (n < 1)
            co_return nTotal;
        engine.AddRecvBytes(static_cast<uint64_t>(n));
        stream.CountRecv(static_cast<uint64_t>(n));
        nTotal += static_cast<uint64_t>(n);
        if (pPacer != nullptr)
            co_await pPacer->Moved(static_cast<size_t>(n));
    }
}
