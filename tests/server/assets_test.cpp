// Path joining, replacement-file decoding and the built-in copies.
#include "server/assets.h"

#include "support/version.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

std::string ReadSourceFile(const std::string& strRelative) {
    std::ifstream in(std::string(TACHYRA_SOURCE_DIR) + "/" + strRelative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file in a fresh temporary directory, removed with it.
class TempFile {
public:
    explicit TempFile(const std::string& strBytes) {
        std::random_device random;
        m_dir = std::filesystem::temp_directory_path() /
                ("tachyra-assets-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(m_dir);
        m_path = (m_dir / "websocket.html").string();
        std::ofstream out(m_path, std::ios::binary);
        out.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
    }
    ~TempFile() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    const std::string& Path() const { return m_path; }

private:
    std::filesystem::path m_dir;
    std::string m_path;
};

} // namespace

TEST(CombinePath, WindowsRules) {
    EXPECT_EQ(CombinePath("C:\\app\\", "websocket.html", '\\'), "C:\\app\\websocket.html");
    EXPECT_EQ(CombinePath("C:\\app", "websocket.html", '\\'), "C:\\app\\websocket.html");
    EXPECT_EQ(CombinePath("C:\\app\\\\", "a.css", '\\'), "C:\\app\\a.css");
    EXPECT_EQ(CombinePath("C:\\app\\", "\\a.css", '\\'), "C:\\app\\a.css");
    EXPECT_EQ(CombinePath("C:\\app\\", "D:\\x\\a.css", '\\'), "D:\\x\\a.css");
    EXPECT_EQ(CombinePath("C:\\app\\", "\\\\server\\share\\a", '\\'), "\\\\server\\share\\a");
    EXPECT_EQ(CombinePath("C:\\app\\", "", '\\'), "");
    EXPECT_EQ(CombinePath("", "a.css", '\\'), "a.css");
}

TEST(CombinePath, PosixSeparator) {
    EXPECT_EQ(CombinePath("/opt/tachyra/", "websocket.html", '/'), "/opt/tachyra/websocket.html");
    EXPECT_EQ(CombinePath("/opt/tachyra", "websocket.html", '/'), "/opt/tachyra/websocket.html");
    EXPECT_EQ(CombinePath("/opt/tachyra//", "/a.css", '/'), "/opt/tachyra/a.css");
}

TEST(DecodeTextFile, NoMarkIsByteForByteUpToNul) {
    const std::string strBytes = "caf\xC3\xA9 \xB2\xE2\xCA\xD4";
    EXPECT_EQ(DecodeTextFileBytes(strBytes), strBytes);
    EXPECT_EQ(DecodeTextFileBytes(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(DecodeTextFileBytes(""), "");
    EXPECT_EQ(DecodeTextFileBytes("\xEF\xBB"), "\xEF\xBB"); // two bytes are no UTF-8 mark
}

TEST(DecodeTextFile, Utf8MarkIsDropped) {
    EXPECT_EQ(DecodeTextFileBytes("\xEF\xBB\xBF<p>\xE7\xBD\x91\xE9\x80\x9F</p>"),
              "<p>\xE7\xBD\x91\xE9\x80\x9F</p>");
    EXPECT_EQ(DecodeTextFileBytes("\xEF\xBB\xBF"), "");
}

TEST(DecodeTextFile, Utf16LeMarkIsConvertedToUtf8) {
    // "A", U+7F51 (网), U+1F600 as a surrogate pair, then a NUL that ends the text.
    const std::string strBytes("\xFF\xFE"
                               "A\x00"
                               "\x51\x7F"
                               "\x3D\xD8\x00\xDE"
                               "\x00\x00"
                               "B\x00",
                               14);
    EXPECT_EQ(DecodeTextFileBytes(strBytes), "A\xE7\xBD\x91\xF0\x9F\x98\x80");
    EXPECT_EQ(DecodeTextFileBytes("\xFF\xFE"), "");
    // A lone surrogate cannot be written in UTF-8: it becomes U+FFFD.
    EXPECT_EQ(DecodeTextFileBytes(std::string("\xFF\xFE\x00\xD8x\x00", 6)), "\xEF\xBF\xBDx");
    // An odd last byte counts as a unit with a high byte of 0.
    EXPECT_EQ(DecodeTextFileBytes(std::string("\xFF\xFEh\x00i", 5)), "hi");
}

TEST(ReadTextFile, ReadsEachKindOfFile) {
    {
        TempFile file("<html>plain</html>");
        EXPECT_EQ(ReadTextFileAt(file.Path()), "<html>plain</html>");
    }
    {
        TempFile file("\xEF\xBB\xBF<html>marked</html>");
        EXPECT_EQ(ReadTextFileAt(file.Path()), "<html>marked</html>");
    }
    {
        TempFile file(std::string("\xFF\xFE<\x00p\x00>\x00", 8));
        EXPECT_EQ(ReadTextFileAt(file.Path()), "<p>");
    }
    {
        TempFile file("");
        EXPECT_EQ(ReadTextFileAt(file.Path()), "");
    }
}

TEST(ReadTextFile, MissingFileGivesNothing) {
    EXPECT_EQ(ReadTextFileAt("/nonexistent-tachyra-dir/websocket.html"), "");
    EXPECT_EQ(ReadTextFile("no-such-tachyra-file.html"), "");
}

TEST(SelectBody, FallsBackToTheBuiltInCopy) {
    std::string strStorage;
    const std::string strBuiltIn = "built in";
    EXPECT_EQ(&SelectBody("no-such-tachyra-file.html", strBuiltIn, strStorage), &strBuiltIn);
}

TEST(BuiltInTexts, AreTheResourceFiles) {
    EXPECT_EQ(LoadTextResource(kResPageHtml), ReadSourceFile("resources/websocket.html"));
    EXPECT_EQ(LoadTextResource(kResButtonsCss), ReadSourceFile("resources/buttons.css"));
    EXPECT_EQ(LoadTextResource(kResEchartsJs), ReadSourceFile("resources/echarts/echarts.min.js"));
    EXPECT_EQ(LoadTextResource(kResEchartsJs).size(), 717610u);
    EXPECT_EQ(LoadTextResource(128), "");
}

TEST(BuiltInTexts, LoadPageTextsFillsOnlyEmptyOnes) {
    std::string strHtml, strCss = "mine", strJs;
    LoadPageTexts(strHtml, strCss, strJs);
    EXPECT_EQ(strHtml, LoadTextResource(kResPageHtml));
    EXPECT_EQ(strCss, "mine");
    EXPECT_FALSE(strJs.empty());
}

TEST(BuiltInTexts, PageLinksTheMakersWebSite) {
    const std::string strPage = LoadTextResource(kResPageHtml);
    EXPECT_NE(strPage.find(std::string("href=\"") + kMakerWebSite + "\""), std::string::npos);
    EXPECT_NE(strPage.find("<title>Tachyra-[\xE7\xBD\x91\xE9\x80\x9F\xE6\xB5\x8B\xE8\xAF\x95]"
                           "</title>"),
              std::string::npos);
    EXPECT_NE(strPage.find("href=\"/buttons.css\""), std::string::npos);
    EXPECT_NE(strPage.find("src=\"echarts.min.js\""), std::string::npos);
}
