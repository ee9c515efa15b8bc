// The main window's scenarios, written once and played by both window tests: under Xvfb
// through the GTK program's control channel, under Wine through the driver program.
// Steps are the driver's (tests/wine/driver/driver.cpp): a step with a space is a check
// ("text 1000 启动服务"; one "*" stands for any text), "box <caption> | <text> | <kind>"
// answers the next message box (kind plain, error or warning; Wine tells only plain or
// icon). "screenshot" is the harness's own. {port} is a port nobody listens on, {peer} that
// of a tachyra-cli server, {refused} and {inuse} the backend's error texts.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct CWindowScenario {
    const char* pszName;
    std::vector<std::pair<std::string, std::string>> vecStored; // settings before the start
    std::vector<std::string> vecSteps;                          // ends with the window gone
    std::vector<std::pair<std::string, std::string>> vecSaved;  // all four, in write order
};

inline const std::vector<CWindowScenario> kWindowScenarios = {
    {"FirstRunRefusedStartsAndAWarnedClose",
     {},
     {"caption Tachyra - v18.0701", "text 1000 启动服务", "text 1002 开始连接测试",
      "text 1001 10001", "text 1003 127.0.0.1", "text 1004 10001", "text 1007 下载",
      "text 1008 使用JS.WebSocket测试", "enabled 1008 0", "pane 0     接收：0.00MB/s",
      "pane 1 发送：0.00MB/s",
      // A bad value: its box, and its entry has the focus.
      "set:1004:abc", "click:1002", "box Tachyra | 请输入一个整数。 | plain", "focus 1004",
      "text 1002 开始连接测试", "enabled 1003 1",
      // A server port nobody listens on: all ten sessions fail, with one box.
      "set:1004:{port}", "click:1002", "box Tachyra | {refused} | error",
      "wait:text:1002:开始连接测试", "boxes:1000",
      // An out-of-range port at the close warns, and the close goes on and saves it.
      "set:1001:70000", "close", "box Tachyra | 请输入一个在 1 和 65535 之间的整数。 | warning",
      "gone:10000"},
     {{"m_nListenPort", "70000"},
      {"m_nServerPort", "{port}"},
      {"m_strServerAddr", "127.0.0.1"},
      {"m_strType", "下载"}}},
    {"ServerAndClientStopUnderLoadRestartAndCloseWhileBothRun",
     {},
     {"set:1001:{port}", "set:1004:{port}", "click:1000", "wait:text:1000:停止",
      "wait:enabled:1001:0", "wait:enabled:1008:1", "click:1002", "wait:text:1002:停止测试",
      "wait-rate:0:15000", "wait-rate:1:15000", "enabled 1003 0", "enabled 1004 0",
      "enabled 1007 0", "screenshot",
      // The server stops under its own test's load, which ends without a box.
      "click:1000", "wait:text:1000:启动服务:15000", "wait:enabled:1000:1",
      "wait:text:1002:开始连接测试", "wait:enabled:1002:1", "boxes:1500", "enabled 1001 1",
      "enabled 1008 0", "enabled 1003 1", "enabled 1004 1", "enabled 1007 1",
      // A prompt restart on the same port, and a close while both sides run.
      "click:1000", "wait:text:1000:停止", "click:1002", "wait:text:1002:停止测试",
      "set:1003:localhost", "wait-rate:1:15000", "close", "gone:15000"},
     {{"m_nListenPort", "{port}"},
      {"m_nServerPort", "{port}"},
      {"m_strServerAddr", "localhost"},
      {"m_strType", "下载"}}},
    // The stored type selects its first match, so this process only sends to the peer,
    // whose socket on 127.0.0.1 a listen on every interface collides with.
    {"StoredUploadToAPeerThatHoldsTheListenPort",
     {{"m_nListenPort", "{peer}"},
      {"m_nServerPort", "{peer}"},
      {"m_strServerAddr", "127.0.0.1"},
      {"m_strType", "上"}},
     {"text 1001 {peer}", "text 1007 上传", "click:1000", "box Tachyra | {inuse} | plain",
      "wait:text:1000:启动服务", "click:1002", "wait:text:1002:停止测试", "wait-rate:1:15000",
      "pane 0     接收：0.00MB/s", "click:1002", "wait:text:1002:开始连接测试", "boxes:500",
      "close", "gone:10000"},
     {{"m_nListenPort", "{peer}"},
      {"m_nServerPort", "{peer}"},
      {"m_strServerAddr", "127.0.0.1"},
      {"m_strType", "上传"}}},
};

inline void PrintTo(const CWindowScenario& scenario, std::ostream* pOut) {
    *pOut << scenario.pszName;
}

inline bool UsesPeer(const CWindowScenario& scenario) {
    for (const auto& [strName, strValue] : scenario.vecStored)
        if (strValue == "{peer}")
            return true;
    return false;
}

// The text with every "{name}" of the table replaced.
inline std::string FillScenario(std::string str,
                                const std::vector<std::pair<std::string, std::string>>& vecVars) {
    for (const auto& [strName, strValue] : vecVars)
        for (size_t n; (n = str.find(strName)) != std::string::npos;)
            str.replace(n, strName.size(), strValue);
    return str;
}
