// Path joining, replacement-file decoding and the built-in copies.
#include "server/assets.h"

#include "support/version.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

TEST(CombinePath, WindowsAndPosixSeparators) {
    const struct {
        const char *pszDir, *pszName;
        char chSep;
        const char* pszPath;
    } cases[] = {
        {"C:\\app\\", "websocket.html", '\\', "C:\\app\\websocket.html"},
        {"C:\\app", "websocket.html", '\\', "C:\\app\\websocket.html"},
        {"C:\\app\\\\", "a.css", '\\', "C:\\app\\a.css"},
        {"C:\\app\\", "\\a.css", '\\', "C:\\app\\a.css"},
        {"C:\\app\\", "D:\\x\\a.css", '\\', "D:\\x\\a.css"},
        {"C:\\app\\", "\\\\server\\share\\a", '\\', "\\\\server\\share\\a"},
        {"C:\\app\\", "", '\\', ""},
        {"", "a.css", '\\', "a.css"},
        {"/opt/tachyra/", "websocket.html", '/', "/opt/tachyra/websocket.html"},
        {"/opt/tachyra", "websocket.html", '/', "/opt/tachyra/websocket.html"},
        {"/opt/tachyra//", "/a.css", '/', "/opt/tachyra/a.css"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CombinePath(c.pszDir, c.pszName, c.chSep), c.pszPath) << c.pszDir << c.pszName;
}

// Each kind of file as decoded in memory and as read from disk.
TEST(DecodeTextFile, MarksDecideTheEncoding) {
    const struct {
        std::string strBytes, strText;
    } cases[] = {
        // No mark: byte for byte up to a NUL; two bytes are no UTF-8 mark.
        {"caf\xC3\xA9 \xB2\xE2\xCA\xD4", "caf\xC3\xA9 \xB2\xE2\xCA\xD4"},
        {std::string("ab\0cd", 5), "ab"},
        {"", ""},
        {"\xEF\xBB", "\xEF\xBB"},
        // A UTF-8 mark is dropped.
        {"\xEF\xBB\xBF<p>\xE7\xBD\x91\xE9\x80\x9F</p>", "<p>\xE7\xBD\x91\xE9\x80\x9F</p>"},
        {"\xEF\xBB\xBF", ""},
        // UTF-16LE: "A", U+7F51, U+1F600 as a surrogate pair, then a NUL that ends the text.
        {std::string("\xFF\xFE\x41\x00\x51\x7F\x3D\xD8\x00\xDE\x00\x00\x42\x00", 14),
         "A\xE7\xBD\x91\xF0\x9F\x98\x80"},
        {"\xFF\xFE", ""},
        // A lone surrogate becomes U+FFFD; an odd last byte is a unit with a high byte of 0.
        {std::string("\xFF\xFE\x00\xD8x\x00", 6), "\xEF\xBF\xBDx"},
        {std::string("\xFF\xFEh\x00i", 5), "hi"},
    };
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("tachyra-assets-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(dir);
    const std::string strPath = (dir / "websocket.html").string();
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeTextFileBytes(c.strBytes), c.strText);
        std::ofstream(strPath, std::ios::binary | std::ios::trunc) << c.strBytes;
        EXPECT_EQ(ReadTextFileAt(strPath), c.strText);
    }
    std::filesystem::remove_all(dir);
    EXPECT_EQ(ReadTextFileAt(strPath), "");
    EXPECT_EQ(ReadTextFile("no-such-tachyra-file.html"), "");
    std::string strStorage;
    const std::string strBuiltIn = "built in";
    EXPECT_EQ(&SelectBody("no-such-tachyra-file.html", strBuiltIn, strStorage), &strBuiltIn);
}

TEST(BuiltInTexts, AreTheResourceFilesAndThePageLinksItsParts) {
    auto Source = [](const char* pszName) {
        std::ifstream in(std::string(TACHYRA_SOURCE_DIR) + "/resources/" + pszName,
                         std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(LoadTextResource(kResPageHtml), Source("websocket.html"));
    EXPECT_EQ(LoadTextResource(kResButtonsCss), Source("buttons.css"));
    EXPECT_EQ(LoadTextResource(kResEchartsJs), Source("echarts/echarts.min.js"));
    EXPECT_EQ(LoadTextResource(kResEchartsJs).size(), 717610u);
    EXPECT_EQ(LoadTextResource(128), "");
    CPageTexts texts;
    texts.strButtonsCss = "mine";
    LoadPageTexts(texts); // fills only the empty ones
    EXPECT_EQ(texts.strPageHtml, LoadTextResource(kResPageHtml));
    EXPECT_EQ(texts.strButtonsCss, "mine");
    EXPECT_FALSE(texts.strEchartsJs.empty());
    for (const std::string& strPart :
         {std::string("href=\"") + kMakerWebSite + "\"",
          std::string("<title>Tachyra-[\xE7\xBD\x91\xE9\x80\x9F\xE6\xB5\x8B\xE8\xAF\x95]</title>"),
          std::string("href=\"/buttons.css\""), std::string("src=\"echarts.min.js\"")})
        EXPECT_NE(texts.strPageHtml.find(strPart), std::string::npos) << strPart;
}
