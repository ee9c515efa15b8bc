// Rates as people type them: bits per second with an optional K, M or G (powers of 1000).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// "400M" is 400,000,000; "2.5k" 2,500; a plain number is bits per second. Nothing for
// text that is not such a rate, for 0, or for more than 10 Tbit/s.
std::optional<uint64_t> ParseBitRate(const std::string& strText);
// "400.00 Mbit/s", with the largest of K, M or G that keeps the figure at 1 or more.
std::string FormatBitRate(double dBitsPerSecond);
