#include "engine/send_pattern.h"

#include <cstdint>
#include <memory>

const char* SendPattern() {
    static const std::unique_ptr<char[]> pBlock = [] {
        std::unique_ptr<char[]> p(new char[kSendPatternSize]);
        // xorshift64: cheap, and no two runs of it repeat within the block.
        uint64_t nState = 0x9E3779B97F4A7C15ULL;
        for (size_t i = 0; i < kSendPatternSize; i += 8) {
            nState ^= nState << 13;
            nState ^= nState >> 7;
            nState ^= nState << 17;
            for (size_t j = 0; j < 8; ++j)
                p[i + j] = static_cast<char>(nState >> (8 * j));
        }
        return p;
    }();
    return pBlock.get();
}
