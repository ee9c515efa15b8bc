// The texts the server reads and writes: path joining, replacement-file decoding, the
// built-in copies, and what the results routes read from peers (cards, queries, tokens) and
// write (CSV).
#include "engine/results_format.h"
#include "server/assets.h"
#include "server/results_routes.h"
#include "support/version.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>

TEST(CombinePath, WindowsAndPosixSeparators) {
    const std::tuple<const char*, const char*, char, const char*> cases[] = {
        {"C:\\app\\", "websocket.html", '\\', "C:\\app\\websocket.html"},
        {"C:\\app", "websocket.html", '\\', "C:\\app\\websocket.html"},
        {"C:\\app\\\\", "a.css", '\\', "C:\\app\\a.css"},
        {"C:\\app\\", "\\a.css", '\\', "C:\\app\\a.css"},
        {"C:\\app\\", "D:\\x\\a.css", '\\', "D:\\x\\a.css"},
        {"C:\\app\\", "\\\\server\\share\\a", '\\', "\\\\server\\share\\a"},
        {"C:\\app\\", "", '\\', ""},
        {"", "a.css", '\\', "a.css"},
        {"/opt/tachyra", "websocket.html", '/', "/opt/tachyra/websocket.html"},
        {"/opt/tachyra//", "/a.css", '/', "/opt/tachyra/a.css"},
    };
    for (const auto& [pszDir, pszName, chSep, pszPath] : cases)
        EXPECT_EQ(CombinePath(pszDir, pszName, chSep), pszPath) << pszDir << pszName;
}

// Each kind of file as decoded in memory and as read from disk.
TEST(DecodeTextFile, MarksDecideTheEncoding) {
    const std::pair<std::string, std::string> cases[] = {
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
    for (const auto& [strBytes, strText] : cases) {
        EXPECT_EQ(DecodeTextFileBytes(strBytes), strText);
        std::ofstream(strPath, std::ios::binary | std::ios::trunc) << strBytes;
        EXPECT_EQ(ReadTextFileAt(strPath), strText);
    }
    std::filesystem::remove_all(dir);
}

// The page's other texts and links are checked where they are served (cli_server_test.py,
// the browser tests).
TEST(BuiltInTexts, AreTheResourceFilesAndFillOnlyEmptyTexts) {
    std::ifstream in(std::string(TACHYRA_SOURCE_DIR) + "/resources/echarts/echarts.min.js",
                     std::ios::binary);
    EXPECT_EQ(LoadTextResource(kResEchartsJs), std::string(std::istreambuf_iterator<char>(in), {}));
    CPageTexts texts;
    texts.strButtonsCss = "mine";
    LoadPageTexts(texts);
    EXPECT_EQ(texts.strPageHtml, LoadTextResource(kResPageHtml));
    EXPECT_EQ(texts.strButtonsCss, "mine");
    EXPECT_NE(texts.strPageHtml.find(std::string("href=\"") + kMakerWebSite + "\""),
              std::string::npos);
}

TEST(ResultsText, CardsKeepOnlyKnownFiniteLatencies) {
    const std::pair<const char*, const char*> kCases[] = {
        // the card, what is kept ("" refused)
        {R"({"idle": 1.5, "jitter": 0.25})", R"({"idle": 1.500, "jitter": 0.250})"},
        {R"( {"upload":2,"download":3e0,"idle":null,"x":9} )",
         R"({"download": 3.000, "upload": 2.000})"},
        {R"({"x": 1})", ""},
        {R"({})", ""},
        {R"({"idle": 1,})", ""},
        {R"({"idle": -1})", ""},
        {R"({"idle": 1e999})", ""},
        {R"({"idle": "1"})", ""},
        {R"({"idle": 1} x)", ""},
        {R"({"id\"le": 1})", ""},
        {R"([1])", ""},
        {"", ""},
    };
    for (const auto& [pszCard, pszKept] : kCases)
        EXPECT_EQ(SanitizeLatencyJson(pszCard), pszKept) << pszCard;
}

TEST(ResultsText, QueryValuesAreDecoded) {
    const std::tuple<const char*, const char*, bool, const char*> kCases[] = {
        {"results.json?limit=5&token=a%2Fb+c", "token", true, "a/b c"},
        {"results.json?limit=5&token=a%2Fb+c", "limit", true, "5"},
        {"results.json?tokenx=1", "token", false, ""},
        {"results.json?token", "token", true, ""},
        {"results.json?token=%zz%4", "token", true, "%zz%4"},
        {"results.json", "token", false, ""},
    };
    for (const auto& [pszPath, pszName, bExpectFound, pszValue] : kCases) {
        bool bFound = false;
        EXPECT_EQ(GetQueryValue(pszPath, pszName, bFound), pszValue) << pszPath;
        EXPECT_EQ(bFound, bExpectFound) << pszPath;
    }
}

TEST(ResultsText, TokensCompareWhole) {
    EXPECT_TRUE(EqualsConstantTime("s3cret", "s3cret"));
    for (const char* psz : {"", "s3cre", "s3cret!", "S3cret", "s3creu"})
        EXPECT_FALSE(EqualsConstantTime("s3cret", psz)) << psz;
}

TEST(ResultsText, CsvQuotesTheLatencyObject) {
    const CTestResult result{1.5, "::1", "full", "both", 2, 0, 2097152, R"({"idle": 1.000})"};
    EXPECT_EQ(FormatResultsCsv({result}),
              "time,peer,kind,direction,seconds,recv_bytes,send_bytes,recv_MBps,send_MBps,"
              "latency_ms\r\n1970-01-01T00:00:01.500Z,::1,full,both,2.000,0,2097152,0.0000,"
              "1.0000,\"{\"\"idle\"\": 1.000}\"\r\n");
}
