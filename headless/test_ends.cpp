#include "headless/test_ends.h"

#include "engine/test_result.h"
#include "support/format.h"

#include <algorithm>
#include <cstring>

namespace {

// "10.1.2.3:5000" -> "10.1.2.3", "[::1]:5000" -> "[::1]".
std::string PeerHost(const std::string& strPeer) {
    const size_t nColon = strPeer.rfind(':');
    const bool bPort =
        nColon != std::string::npos && (strPeer.front() != '[' || strPeer.find(']') < nColon);
    return bPort ? strPeer.substr(0, nColon) : strPeer;
}

// The kind and direction (as the peer sees it) of a session that makes a test; null for
// the rest.
const char* TestPart(const char* pszMode) {
    if (std::strcmp(pszMode, "download") == 0)
        return "raw download";
    if (std::strcmp(pszMode, "upload") == 0)
        return "raw upload";
    if (std::strcmp(pszMode, "websocket") == 0)
        return "websocket download";
    return nullptr;
}

} // namespace

void CTestEnds::Started(const std::string& strPeer) {
    std::lock_guard<std::mutex> lock(m_cs);
    ++m_mapPeers[PeerHost(strPeer)].nOpen;
}

std::vector<std::string> CTestEnds::Ended(const CSessionRecord& session, Clock::time_point tNow) {
    std::vector<std::string> vecLines;
    const std::string strHost = PeerHost(session.strPeer);
    std::lock_guard<std::mutex> lock(m_cs);
    auto it = m_mapPeers.find(strHost);
    if (it == m_mapPeers.end())
        return vecLines; // no start seen: nothing to pair it with
    CPeerTest& test = it->second;
    if (const char* pszPart = TestPart(session.pszMode); pszPart != nullptr && session.nBytes > 0) {
        CPart& part = test.parts[pszPart];
        const auto tStart = tNow - std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(session.dSeconds));
        part.nBytes += session.nBytes;
        part.tFirst = std::min(part.tFirst, tStart);
        part.tLast = std::max(part.tLast, tNow);
        test.tLastEnd = tNow;
    }
    if (--test.nOpen > 0)
        return vecLines;
    EndTest(strHost, test, vecLines);
    m_mapPeers.erase(it);
    return vecLines;
}

std::vector<std::string> CTestEnds::Flush(Clock::time_point tNow) {
    std::vector<std::string> vecLines;
    std::lock_guard<std::mutex> lock(m_cs);
    for (auto& [strHost, test] : m_mapPeers) {
        if (!test.parts.empty() && tNow - test.tLastEnd >= kGrace)
            EndTest(strHost, test, vecLines);
    }
    return vecLines;
}

void CTestEnds::EndTest(const std::string& strHost, CPeerTest& test,
                        std::vector<std::string>& vecLines) {
    for (const auto& [strPart, part] : test.parts) {
        const double dSeconds = std::chrono::duration<double>(part.tLast - part.tFirst).count();
        vecLines.push_back(FormatString("Test ended: %s, %s, %.2f s, %.2f MB/s", strHost.c_str(),
                                        strPart.c_str(), dSeconds,
                                        ResultMBps(part.nBytes, dSeconds)));
    }
    test.parts.clear();
}
