// Base64 (RFC 4648, section 4) of a SHA-1 digest, for the WebSocket accept value.
#pragma once

#include <cstddef>
#include <string>

// The standard-alphabet text of nLen bytes, with "=" padding and no line breaks.
std::string Base64Encode(const unsigned char* pData, size_t nLen);

// The text of exactly 20 bytes: always 28 characters ending in one "=".
std::string Base64Encode20(const unsigned char* pData);
