// The served texts: built-in copies, replacement files beside the executable, and which
// of the two a request gets.
#pragma once

#include "engine/settings.h"

#include <string>

// Resource ids of the built-in copies (type "TEXT" in the Windows executable).
const int kResButtonsCss = 129;
const int kResEchartsJs = 130;
const int kResPageHtml = 131;
const int kResFullHtml = 132;
const int kResFullJs = 133;
const int kResResultsHtml = 134;
const int kResQrcodeJs = 135;

// The built-in text with that id, up to its first NUL byte; empty when there is none.
// Implemented once per platform: Win32 resources, or the copies compiled into the binary.
std::string LoadTextResource(int nId);

// Fills each page text that is still empty with its built-in copy.
void LoadPageTexts(CPageTexts& texts);

// Joins a directory and a file name with chSeparator. An empty name gives "". A name
// that is a drive path ("X:...") or starts with two separators is returned as it is.
// Otherwise one leading separator of the name is dropped, a directory ending in two
// separators loses one, and a non-empty directory gets one at its end if it has none.
std::string CombinePath(const std::string& strDir, const std::string& strName, char chSeparator);
// The same with the platform's separator.
std::string CombinePath(const std::string& strDir, const std::string& strName);

// The served text of a file's bytes: a UTF-8 byte-order mark is dropped, a UTF-16LE one
// makes the rest converted to UTF-8 (up to its first NUL character), and anything without
// a mark is taken byte for byte up to its first NUL byte.
std::string DecodeTextFileBytes(const std::string& strBytes);

// Reads a file by its path and decodes it as above; empty when it is missing, unreadable,
// empty or holds only a mark.
std::string ReadTextFileAt(const std::string& strPath);
// The same for a file beside the executable.
std::string ReadTextFile(const std::string& strName);

// The body for an asset: the replacement file pszFileName beside the executable when it
// yields text (kept in strStorage), else strBuiltIn.
const std::string& SelectBody(const char* pszFileName, const std::string& strBuiltIn,
                              std::string& strStorage);
