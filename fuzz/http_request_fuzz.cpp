// libFuzzer target: request reading, header lookup, the upgrade and handshake, routing,
// replacement-file decoding and a whole session, all from memory. The first byte picks the
// chunk size (1..255, as the socket loop receives); the rest is the request.
#include "../tests/testkit/memory_stream.h"
#include "server/assets.h"
#include "server/http.h"
#include "server/session.h"
#include "server/websocket.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize == 0)
        return 0;
    const size_t nChunk = 1 + pData[0] % CHttpRequestReader::kChunkSize;
    const char* p = reinterpret_cast<const char*>(pData + 1);
    const size_t nLen = nSize - 1;

    CHttpRequestReader reader;
    CHttpRequestReader::EState state = CHttpRequestReader::kNeedMore;
    for (size_t i = 0; i < nLen && state == CHttpRequestReader::kNeedMore; i += nChunk) {
        size_t n = nLen - i < nChunk ? nLen - i : nChunk;
        state = reader.AddChunk(p + i, static_cast<int>(n));
    }
    const std::string strRequest = "GET" + reader.Text();
    if (reader.Text().size() > nLen)
        std::abort(); // the text only ever holds received bytes

    for (const char* pszName : {"path", "PATH", "Upgrade", "Connection", "Sec-WebSocket-Key",
                                "Content-Length", "Host", "", ":"})
        GetHeaderValue(strRequest, pszName);
    FindHttpRoute(GetHeaderValue(strRequest, "path"));
    const std::string strAnswer = BuildWebSocketHandshake(strRequest);
    if (IsWebSocketUpgrade(strRequest) != !strAnswer.empty() ||
        (!strAnswer.empty() && strAnswer.size() != 129))
        std::abort();

    const std::string strRaw(p, nLen);
    DecodeTextFileBytes(strRaw);
    CombinePath(strRaw.substr(0, nLen / 2), strRaw.substr(nLen / 2), '\\');

    // The session on the input (behind "GET" when the first byte is even) received in the
    // same chunks; the send limit ends streams.
    static CKestrunEngine engine;
    static const CPageTexts texts{
        "<html>page</html>", "css", "js", "<html>full</html>", "js", "", "", ""};
    CMemoryStream stream(pData[0] % 2 == 0 ? "GET" + strRaw : strRaw, nChunk);
    stream.m_nSendCapacity = 1 << 20;
    RunSync(ServeConnection(engine, stream, texts));
    return 0;
}
