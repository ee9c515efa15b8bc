// What every sender of the program sends: one read-only block, filled once per process
// with a fixed pseudo-random pattern. It holds nothing that was ever another connection's,
// and it does not compress, so a link that compresses cannot flatter the figure.
#pragma once

#include <cstddef>

// Bytes of the block; a multiple of the raw protocol's 8192-byte block.
const size_t kSendPatternSize = 1 << 20;
// The block; the same bytes for the life of the process.
const char* SendPattern();
