// The main window's scenarios, written once and played by both window tests through a
// control channel: the GTK program's own under Xvfb, the driver's (tests/wine/driver) under
// Wine. A step with a space is a check: the reply to the request it begins with must read as
// the rest ("text 1000 启动服务"; one "*" stands for any text); "box <caption> | <text> |
// <kind>" answers the one message box (kind plain, error or warning; Wine tells only plain
// or icon). Other steps: wait:<request>:<id>:<value>[:<ms>], wait-rate:<pane>:<ms> (until
// more than 0 MB/s), boxes:<ms> (none shows up), gone:<ms>, screenshot, or a request of the
// channel with ":" for " ". {port} is a port nobody listens on, {peer} that of a tachyra-cli
// server, {refused} and {inuse} the backend's error texts.
#pragma once

#include "testkit/child_process.h"
#include "testkit/xvfb_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using CVars = std::vector<std::pair<std::string, std::string>>;

// The settings, in the order the program writes them.
inline const char* const kSettingNames[] = {"m_nListenPort", "m_nServerPort", "m_strServerAddr",
                                            "m_strType"};

struct CWindowScenario {
    const char* pszName;
    std::vector<std::string> vecStored; // settings before the start: none, or all four
    std::vector<std::string> vecSteps;  // ends with the window gone
    std::vector<std::string> vecSaved;  // all four at the end
};

inline const std::vector<CWindowScenario> kWindowScenarios = {
    {"FirstRunRefusedStartsAndAWarnedClose",
     {},
     {"caption Tachyra - v18.0701", "text 1000 启动服务", "text 1002 开始连接测试",
      "text 1001 10001", "text 1003 127.0.0.1", "text 1004 10001", "text 1007 下载",
      "text 1008 使用JS.WebSocket测试", "enabled 1008 0", "pane 0     接收：0.00MB/s",
      "pane 1 发送：0.00MB/s",
      // A bad value: its box, and its entry has the focus.
      "settext:1004:abc", "click:1002", "box Tachyra | 请输入一个整数。 | plain", "focus 1004",
      "text 1002 开始连接测试", "enabled 1003 1",
      // A server port nobody listens on: all ten sessions fail, with one box.
      "settext:1004:{port}", "click:1002", "box Tachyra | {refused} | error",
      "wait:text:1002:开始连接测试", "boxes:1000",
      // An out-of-range port at the close warns, and the close goes on and saves it.
      "settext:1001:70000", "close", "box Tachyra | 请输入一个在 1 和 65535 之间的整数。 | warning",
      "gone:10000"},
     {"70000", "{port}", "127.0.0.1", "下载"}},
    {"ServerAndClientStopUnderLoadRestartAndCloseWhileBothRun",
     {},
     {"settext:1001:{port}", "settext:1004:{port}", "click:1000", "wait:text:1000:停止",
      "wait:enabled:1001:0", "wait:enabled:1008:1", "click:1002", "wait:text:1002:停止测试",
      "wait-rate:0:15000", "wait-rate:1:15000", "enabled 1003 0", "enabled 1004 0",
      "enabled 1007 0", "screenshot",
      // The server stops under its own test's load, which ends without a box.
      "click:1000", "wait:text:1000:启动服务:15000", "wait:enabled:1000:1",
      "wait:text:1002:开始连接测试", "wait:enabled:1002:1", "boxes:1500", "enabled 1001 1",
      "enabled 1008 0", "enabled 1003 1", "enabled 1004 1", "enabled 1007 1",
      // A prompt restart on the same port, and a close while both sides run.
      "click:1000", "wait:text:1000:停止", "click:1002", "wait:text:1002:停止测试",
      "settext:1003:localhost", "wait-rate:1:15000", "close", "gone:15000"},
     {"{port}", "{port}", "localhost", "下载"}},
    // The stored type selects its first match, so this process only sends to the peer,
    // whose socket on 127.0.0.1 a listen on every interface collides with.
    {"StoredUploadToAPeerThatHoldsTheListenPort",
     {"{peer}", "{peer}", "127.0.0.1", "上"},
     {"text 1001 {peer}", "text 1007 上传", "click:1000", "box Tachyra | {inuse} | plain",
      "wait:text:1000:启动服务", "click:1002", "wait:text:1002:停止测试", "wait-rate:1:15000",
      "pane 0     接收：0.00MB/s", "click:1002", "wait:text:1002:开始连接测试", "boxes:500",
      "close", "gone:10000"},
     {"{peer}", "{peer}", "127.0.0.1", "上传"}},
};

inline void PrintTo(const CWindowScenario& scenario, std::ostream* pOut) {
    *pOut << scenario.pszName;
}

// The text with every "{name}" of the table replaced.
inline std::string FillScenario(std::string str, const CVars& vecVars) {
    for (const auto& [strName, strValue] : vecVars)
        for (size_t n; (n = str.find(strName)) != std::string::npos;)
            str.replace(n, strName.size(), strValue);
    return str;
}

// The settings by name, with the table's names filled in.
inline CVars NamedSettings(const std::vector<std::string>& vecValues, const CVars& vecVars) {
    CVars vecNamed;
    for (size_t i = 0; i < vecValues.size(); ++i)
        vecNamed.push_back({kSettingNames[i], FillScenario(vecValues[i], vecVars)});
    return vecNamed;
}

// The text cut at each separator into at least nFields fields.
inline std::vector<std::string> SplitFields(const std::string& str, char cSep, size_t nFields) {
    std::vector<std::string> vec(1);
    for (char ch : str) {
        if (ch == cSep)
            vec.emplace_back();
        else
            vec.back().push_back(ch);
    }
    vec.resize(std::max(vec.size(), nFields));
    return vec;
}

// Plays steps through the control channel, where each request line gets one reply line:
// "ok <text>" (with \n, \t and \\ escaped) or "err <why>".
class CWindowPlayer {
public:
    // The scenario's names with the backend's error texts; starts the peer if it needs one.
    CVars Vars(const CWindowScenario& scenario, const std::string& strRefused,
               const std::string& strInUse) {
        CVars vecVars = {{"{port}", m_strPort}, {"{refused}", strRefused}, {"{inuse}", strInUse}};
        const std::vector<std::string>& vecStored = scenario.vecStored;
        if (std::find(vecStored.begin(), vecStored.end(), "{peer}") != vecStored.end())
            vecVars.push_back({"{peer}", std::to_string(StartCliServer(m_peer))});
        return vecVars;
    }

    // The reply without "ok ", unescaped; an "err ..." reply comes back whole.
    std::string Ask(const std::string& strRequest) {
        if (!m_channel.Send(strRequest + "\n"))
            return "err lost";
        std::string strReply;
        for (std::string strByte; (strByte = m_channel.Recv(1)) != "\n"; strReply += strByte)
            if (strByte.empty()) // closed, or no reply in 20 s
                return "err lost";
        if (strReply.compare(0, 2, "ok") != 0)
            return strReply;
        std::string strOut;
        for (size_t i = 3; i < strReply.size(); ++i) {
            char ch = strReply[i];
            if (ch == '\\' && i + 1 < strReply.size())
                ch = strReply[++i] == 'n' ? '\n' : strReply[i] == 't' ? '\t' : strReply[i];
            strOut += ch;
        }
        return strOut;
    }
    bool WaitFor(const std::string& strRequest, const std::string& strExpected, int nSeconds = 10) {
        return WaitUntil([&] { return Ask(strRequest) == strExpected; },
                         std::chrono::seconds(nSeconds));
    }

    // Plays the steps with the names filled in; the program has to end with exit code 1.
    void Play(const std::vector<std::string>& vecSteps, const CVars& vecVars) {
        for (const std::string& strStep : vecSteps)
            ASSERT_TRUE(Step(FillScenario(strStep, vecVars))) << strStep;
        EXPECT_EQ(1, m_nExitCode);
    }

    bool Step(const std::string& strStep) {
        const size_t nSpace = strStep.find(' ');
        if (strStep.starts_with("box ")) {
            if (!WaitFor("dialogs", "1", 30))
                return Matches(strStep, "box none");
            const std::vector<std::string> f = SplitFields(Ask("dialog 0"), '\t', 5);
            const bool bShown = f[3] + f[4] == "modalvisible";
            return Matches(strStep, "box " + f[1] + " | " + f[2] + " | " + f[0] +
                                        (bShown ? "" : " (not shown modal)")) &&
                   Ask("answer 0").empty() &&
                   WaitUntil([&] { return Ask("dialogs") != "1"; }); // or the process ended
        }
        if (nSpace != std::string::npos) {
            const bool bNoId = strStep.starts_with("caption ") || strStep.starts_with("focus ");
            const std::string strRequest =
                strStep.substr(0, bNoId ? nSpace : strStep.find(' ', nSpace + 1));
            return Matches(strStep, strRequest + " " + Ask(strRequest));
        }
        const std::vector<std::string> a = SplitFields(strStep, ':', 5);
        const int nMs = std::atoi(a[a[0] == "wait" ? 4 : a[0] == "wait-rate" ? 2 : 1].c_str());
        const auto wait = std::chrono::milliseconds(nMs > 0 ? nMs : 10000);
        if (a[0] == "wait")
            return WaitUntil([&] { return Ask(a[1] + " " + a[2]) == a[3]; }, wait);
        if (a[0] == "wait-rate") // until the pane's "<name>：<n>MB/s" shows more than 0
            return WaitUntil(
                [&] {
                    const std::string strPane = Ask("pane " + a[1]);
                    const size_t nColon = strPane.find("：");
                    return nColon != std::string::npos && std::atof(&strPane[nColon + 3]) > 0;
                },
                wait);
        if (a[0] == "boxes")
            return !WaitUntil([&] { return Ask("dialogs") != "0"; }, wait);
        if (a[0] == "gone")
            return (m_nExitCode = m_app.Wait(wait)) != -1;
        if (a[0] == "screenshot") // kept with the build as an artifact
            return m_pDisplay->Screenshot(m_strShot) &&
                   std::filesystem::file_size(m_strShot) > 1000;
        // Any other step is a request of the channel's own ("settext:1004:abc", "click:1002",
        // "close"), which has to reply "ok" (or "ok clicked").
        const std::string strReply = Ask(FillScenario(strStep, {{":", " "}}));
        return strReply.empty() || strReply == "clicked";
    }

    CChildProcess m_app, m_peer;
    CRawSocket m_channel;
    CXvfbDisplay* m_pDisplay = nullptr;
    std::string m_strShot; // where the screenshot step saves the screen
    std::string m_strPort = std::to_string(ClosedLoopbackPort());
    int m_nExitCode = -2; // as the last "gone" step saw it

private:
    // A check's expected line against what was read; one "*" stands for any text.
    static bool Matches(const std::string& strExpected, const std::string& strRead) {
        const size_t nStar = strExpected.find('*');
        const bool bOk = nStar == std::string::npos
                             ? strRead == strExpected
                             : strRead.size() + 1 >= strExpected.size() &&
                                   strRead.starts_with(strExpected.substr(0, nStar)) &&
                                   strRead.ends_with(strExpected.substr(nStar + 1));
        if (!bOk)
            ADD_FAILURE() << "expected " << strExpected << "\n    read " << strRead;
        return bOk;
    }
};
