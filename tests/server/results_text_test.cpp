// The texts the results routes read from peers (cards, queries, tokens) and write (CSV).
#include "engine/results_format.h"
#include "server/results_routes.h"

#include <gtest/gtest.h>

TEST(ResultsText, CardsKeepOnlyKnownFiniteLatencies) {
    const struct {
        const char* pszCard;
        const char* pszKept; // "" refused
    } kCases[] = {
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
    for (const auto& c : kCases)
        EXPECT_EQ(SanitizeLatencyJson(c.pszCard), c.pszKept) << c.pszCard;
}

TEST(ResultsText, QueryValuesAreDecoded) {
    const struct {
        const char* pszPath;
        const char* pszName;
        bool bFound;
        const char* pszValue;
    } kCases[] = {
        {"results.json?limit=5&token=a%2Fb+c", "token", true, "a/b c"},
        {"results.json?limit=5&token=a%2Fb+c", "limit", true, "5"},
        {"results.json?tokenx=1", "token", false, ""},
        {"results.json?token", "token", true, ""},
        {"results.json?token=%zz%4", "token", true, "%zz%4"},
        {"results.json", "token", false, ""},
    };
    for (const auto& c : kCases) {
        bool bFound = false;
        EXPECT_EQ(GetQueryValue(c.pszPath, c.pszName, bFound), c.pszValue) << c.pszPath;
        EXPECT_EQ(bFound, c.bFound) << c.pszPath;
    }
}

TEST(ResultsText, TokensCompareWhole) {
    EXPECT_TRUE(EqualsConstantTime("s3cret", "s3cret"));
    for (const char* psz : {"", "s3cre", "s3cret!", "S3cret", "s3creu"})
        EXPECT_FALSE(EqualsConstantTime("s3cret", psz)) << psz;
}

TEST(ResultsText, CsvQuotesTheLatencyObject) {
    CTestResult result;
    result.dTime = 1.5;
    result.strPeer = "::1";
    result.strKind = "full";
    result.strDirection = "both";
    result.dSeconds = 2;
    result.nSendBytes = 2097152;
    result.strLatencyJson = R"({"idle": 1.000})";
    EXPECT_EQ(FormatResultsCsv({result}),
              "time,peer,kind,direction,seconds,recv_bytes,send_bytes,recv_MBps,send_MBps,"
              "latency_ms\r\n1970-01-01T00:00:01.500Z,::1,full,both,2.000,0,2097152,0.0000,"
              "1.0000,\"{\"\"idle\"\": 1.000}\"\r\n");
}
