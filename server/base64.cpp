// Base64 with the standard alphabet and "=" padding (RFC 4648, section 4).
#include "server/base64.h"

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string Base64Encode(const unsigned char* pData, size_t nLen) {
    std::string strOut;
    strOut.reserve((nLen + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= nLen; i += 3) {
        unsigned n = (unsigned(pData[i]) << 16) | (unsigned(pData[i + 1]) << 8) | pData[i + 2];
        strOut += kAlphabet[(n >> 18) & 63];
        strOut += kAlphabet[(n >> 12) & 63];
        strOut += kAlphabet[(n >> 6) & 63];
        strOut += kAlphabet[n & 63];
    }
    if (nLen - i == 2) {
        unsigned n = (unsigned(pData[i]) << 16) | (unsigned(pData[i + 1]) << 8);
        strOut += kAlphabet[(n >> 18) & 63];
        strOut += kAlphabet[(n >> 12) & 63];
        strOut += kAlphabet[(n >> 6) & 63];
        strOut += '=';
    } else if (nLen - i == 1) {
        unsigned n = unsigned(pData[i]) << 16;
        strOut += kAlphabet[(n >> 18) & 63];
        strOut += kAlphabet[(n >> 12) & 63];
        strOut += "==";
    }
    return strOut;
}

std::string Base64Encode20(const unsigned char* pData) {
    return Base64Encode(pData, 20);
}
