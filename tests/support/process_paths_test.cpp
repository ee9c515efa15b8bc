#include "support/process_paths.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessPaths, DirectoryKeepsTheLastSeparatorAndBaseNameDropsTheLastExtension) {
    const struct {
        const char* pszPath;
        char cSep;
        const char* pszDir;
        const char* pszBase;
    } rows[] = {{"C:\\Tools\\Tachyra.exe", '\\', "C:\\Tools\\", "Tachyra"},
                {"C:\\Tools\\tachyra.v2.exe", '\\', "C:\\Tools\\", "tachyra.v2"},
                {"/usr/bin/tachyra", '/', "/usr/bin/", "tachyra"},
                {"tachyra.exe", '\\', "tachyra.exe", ""},
                {"/opt/app/", '/', "/opt/app/", ""},
                {"", '/', "", ""}};
    for (const auto& r : rows) {
        EXPECT_EQ(ProcessDirectoryOf(r.pszPath, r.cSep), r.pszDir) << r.pszPath;
        EXPECT_EQ(ProcessBaseNameOf(r.pszPath, r.cSep), r.pszBase) << r.pszPath;
    }
}

TEST(ProcessPaths, TheRunningTestKnowsItsOwnName) {
    EXPECT_EQ(GetProcessBaseName(), "support_test");
    std::string strDir = GetProcessDirectory();
    ASSERT_FALSE(strDir.empty());
    EXPECT_EQ(strDir.back(), '/');
}

} // namespace
