// One HTTP/1.1 GET request per connection: reading it, looking up its fields and path,
// answering it from the fixed table of paths.
#pragma once

#include "support/byte_stream.h"

#include <string>

// Accumulates a request chunk by chunk, as RecvHttpRequest receives it, and says when it
// is complete. Kept apart from the socket so that it can be driven from memory.
class CHttpRequestReader {
public:
    enum EState { kNeedMore, kComplete, kRefused };
    // Bytes received (after the three token bytes) without a complete request.
    static const int kMaxRequestBytes = 65536;
    // The socket loop receives at most this many bytes per call.
    static const int kChunkSize = 255;

    // Takes one received chunk. Its bytes up to the first NUL are appended to the text;
    // all of them count towards the limit. A request still incomplete after a NUL cut a
    // chunk short is refused.
    EState AddChunk(const char* pData, int nLen);
    const std::string& Text() const { return m_strText; }

private:
    std::string m_strText;
    int m_nReceived = 0;
    bool m_bHaveExpected = false;
    size_t m_nExpected = 0;
    bool m_bCut = false; // a NUL dropped part of a chunk
};

// Reads the rest of a request (everything after the token) into strText. True when a
// whole request arrived; false when the peer closed, a receive failed or the limit was
// reached first.
asio::awaitable<bool> RecvHttpRequest(std::string& strText, CByteStream& stream);

// The value of the named field (a line that starts with the name, any case, and a colon;
// the first such line; one character after the colon skipped, trimmed), or for the name "path" (any
// case) the request path without its leading slash. Empty when absent.
std::string GetHeaderValue(const std::string& strRequest, const char* pszName);

// The head of a 200 answer: the response template with its placeholders filled in.
std::string BuildHttpResponseHead(const char* pszContentType, const char* pszCharset, int nBodyLen);

// Sends the head and then the body (nBodyLen bytes, or up to its NUL when nBodyLen is 0),
// each in full. True when both were sent; an empty body reports false.
asio::awaitable<bool> SendHttpResponse(CByteStream& stream, const char* pBody, int nBodyLen,
                                       const char* pszCharset, const char* pszContentType);

// Which of the served texts a path is answered with.
enum class EHttpBody {
    kEmpty,
    kPageHtml,
    kButtonsCss,
    kEchartsJs,
    kFullHtml,
    kFullJs,
    kQrcodeJs,
    kAddresses, // made for the request: see AddressesJson
};

struct HTTP_ROUTE {
    const char* pszPath; // without the leading slash; "" is the page
    EHttpBody body;
    const char* pszFileName; // replacement file beside the executable, or null
    const char* pszContentType;
    const char* pszCharset;
};

// The route for a path (compared up to its query, ignoring ASCII case), or null: no
// answer at all.
const HTTP_ROUTE* FindHttpRoute(const std::string& strPath);
