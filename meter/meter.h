// The meter's arithmetic: bytes of one interval as a "%.02fMB/s" text (1 MB = 1048576 bytes).
#pragma once

#include <cstdint>
#include <string>

double BytesToMegabytes(uint64_t nBytes);
std::string FormatRate(uint64_t nBytesPerSecond);
