// printf-style formatting into a new string, and one-line debug traces.
#pragma once

#include <cstdio>
#include <string>

#if defined(__GNUC__)
#define TACHYRA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TACHYRA_PRINTF(fmt, args)
#endif

// Formats exactly as vsnprintf does; the result is as long as the formatted text. A null
// format, or one the C library rejects, gives an empty string.
std::string FormatString(const char* pszFormat, ...) TACHYRA_PRINTF(1, 2);

// Writes strLine and a line break to pOut and flushes it at once, so that a pipe sees
// each line as it is made.
void PrintLine(std::FILE* pOut, const std::string& strLine);

// Formats a line and sends it to the debug output (the debugger on Windows, standard
// error elsewhere). An empty text sends nothing; a text not ending in "\n" gets "\r\n".
void TraceDebug(const char* pszFormat, ...) TACHYRA_PRINTF(1, 2);

// The line TraceDebug would send for an already formatted text ("" means nothing).
std::string MakeTraceLine(const std::string& strText);
