// The executable's directory and base name, from its image path.
#pragma once

#include <string>

// Everything up to and including the last separator; the whole path when it has none.
std::string ProcessDirectoryOf(const std::string& strImagePath, char chSeparator);
// The file name after the last separator without its extension. A file name without a
// dot is taken whole (executables have no extension on POSIX); a path without a
// separator gives "".
std::string ProcessBaseNameOf(const std::string& strImagePath, char chSeparator);

std::string GetProcessDirectory();
std::string GetProcessBaseName();
