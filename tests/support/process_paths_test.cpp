#include "support/process_paths.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessPaths, DirectoryKeepsTheLastSeparator) {
    EXPECT_EQ(ProcessDirectoryOf("C:\\Tools\\Tachyra.exe", '\\'), "C:\\Tools\\");
    EXPECT_EQ(ProcessDirectoryOf("/usr/bin/tachyra", '/'), "/usr/bin/");
    EXPECT_EQ(ProcessDirectoryOf("tachyra.exe", '\\'), "tachyra.exe");
    EXPECT_EQ(ProcessDirectoryOf("", '/'), "");
}

TEST(ProcessPaths, BaseNameDropsOnlyTheLastExtension) {
    EXPECT_EQ(ProcessBaseNameOf("C:\\Tools\\Tachyra.exe", '\\'), "Tachyra");
    EXPECT_EQ(ProcessBaseNameOf("C:\\Tools\\tachyra.v2.exe", '\\'), "tachyra.v2");
    EXPECT_EQ(ProcessBaseNameOf("/usr/bin/tachyra", '/'), "tachyra");
    EXPECT_EQ(ProcessBaseNameOf("tachyra.exe", '\\'), "");
    EXPECT_EQ(ProcessBaseNameOf("/opt/app/", '/'), "");
}

TEST(ProcessPaths, TheRunningTestKnowsItsOwnName) {
    EXPECT_EQ(GetProcessBaseName(), "support_test");
    std::string strDir = GetProcessDirectory();
    ASSERT_FALSE(strDir.empty());
    EXPECT_EQ(strDir.back(), '/');
}

} // namespace
