#include "support/process_paths.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(ProcessPaths, DirectoryKeepsTheLastSeparatorAndBaseNameDropsTheLastExtension) {
    const std::tuple<const char*, char, const char*, const char*> rows[] = {
        {"C:\\Tools\\Tachyra.exe", '\\', "C:\\Tools\\", "Tachyra"},
        {"C:\\Tools\\tachyra.v2.exe", '\\', "C:\\Tools\\", "tachyra.v2"},
        {"/usr/bin/tachyra", '/', "/usr/bin/", "tachyra"},
        {"tachyra.exe", '\\', "tachyra.exe", ""},
        {"/opt/app/", '/', "/opt/app/", ""},
        {"", '/', "", ""}};
    for (const auto& [pszPath, cSep, pszDir, pszBase] : rows) {
        EXPECT_EQ(ProcessDirectoryOf(pszPath, cSep), pszDir) << pszPath;
        EXPECT_EQ(ProcessBaseNameOf(pszPath, cSep), pszBase) << pszPath;
    }
}

TEST(ProcessPaths, TheRunningTestKnowsItsOwnName) {
    EXPECT_EQ(GetProcessBaseName(), "support_test");
    std::string strDir = GetProcessDirectory();
    ASSERT_FALSE(strDir.empty());
    EXPECT_EQ(strDir.back(), '/');
}

} // namespace
