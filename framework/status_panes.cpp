// Status pane bookkeeping and display texts.
#include "framework/status_panes.h"

#include "support/ascii.h"

#include <cstring>

const char* const CStatusPaneList::kInitialValue = "0.00MB/s";

namespace {

// Copies at most kVXPaneTextMax bytes and terminates.
void CopyField(char* pszField, const std::string& strText) {
    size_t n = strText.size() < kVXPaneTextMax ? strText.size() : kVXPaneTextMax;
    std::memcpy(pszField, strText.data(), n);
    pszField[n] = '\0';
}

} // namespace

std::string ComposePaneText(const std::string& strName, const std::string& strValue) {
    if (strName.empty())
        return strValue;
    return strName + "：" + strValue;
}

int CStatusPaneList::Add(const char* pszName, int nWidth) {
    std::unique_ptr<_VX_STATUS_TYPE> pPane(new _VX_STATUS_TYPE());
    std::memset(pPane.get(), 0, sizeof(_VX_STATUS_TYPE));
    std::lock_guard<std::mutex> lock(m_csStatus);
    int nIndex = static_cast<int>(m_arrStatusPanes.size());
    pPane->nIndex = nIndex;
    pPane->nWidth = nWidth;
    if (pszName != nullptr)
        CopyField(pPane->szName, pszName);
    CopyField(pPane->szText, kInitialValue);
    m_arrStatusPanes.push_back(std::move(pPane));
    return nIndex;
}

size_t CStatusPaneList::Count() const {
    std::lock_guard<std::mutex> lock(m_csStatus);
    return m_arrStatusPanes.size();
}

CStatusBarLayout CStatusPaneList::Layout() const {
    CStatusBarLayout layout;
    std::lock_guard<std::mutex> lock(m_csStatus);
    int nEdge = 0;
    for (size_t i = 0; i < m_arrStatusPanes.size(); ++i) {
        const _VX_STATUS_TYPE& pane = *m_arrStatusPanes[i];
        nEdge += pane.nWidth;
        layout.vecRightEdges.push_back(i + 1 == m_arrStatusPanes.size() ? -1 : nEdge);
        layout.vecTexts.push_back(ComposePaneText(pane.szName, pane.szText));
        layout.vecTips.push_back(pane.szTip);
    }
    return layout;
}

bool CStatusPaneList::SetText(int nIndex, const std::string& strText, std::string& strDisplay) {
    std::string strName;
    {
        std::lock_guard<std::mutex> lock(m_csStatus);
        if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_arrStatusPanes.size())
            return false;
        _VX_STATUS_TYPE& pane = *m_arrStatusPanes[nIndex];
        strName = pane.szName;
        CopyField(pane.szText, strText);
        strDisplay = ComposePaneText(strName, pane.szText);
    }
    return true;
}

int CStatusPaneList::FindByName(const std::string& strName) const {
    std::lock_guard<std::mutex> lock(m_csStatus);
    for (const auto& pPane : m_arrStatusPanes) {
        if (EqualsNoCaseAscii(pPane->szName, strName))
            return pPane->nIndex;
    }
    return -1;
}

bool CStatusPaneList::SetTip(int nIndex, const std::string& strTip) {
    std::lock_guard<std::mutex> lock(m_csStatus);
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_arrStatusPanes.size())
        return false;
    CopyField(m_arrStatusPanes[nIndex]->szTip, strTip);
    return true;
}

std::string CStatusPaneList::GetName(int nIndex) const {
    std::lock_guard<std::mutex> lock(m_csStatus);
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_arrStatusPanes.size())
        return std::string();
    return m_arrStatusPanes[nIndex]->szName;
}

std::string CStatusPaneList::GetText(int nIndex) const {
    std::lock_guard<std::mutex> lock(m_csStatus);
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_arrStatusPanes.size())
        return std::string();
    return m_arrStatusPanes[nIndex]->szText;
}

std::string CStatusPaneList::GetDisplayText(int nIndex) const {
    std::lock_guard<std::mutex> lock(m_csStatus);
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_arrStatusPanes.size())
        return std::string();
    return ComposePaneText(m_arrStatusPanes[nIndex]->szName, m_arrStatusPanes[nIndex]->szText);
}

void CStatusPaneList::Clear() {
    std::lock_guard<std::mutex> lock(m_csStatus);
    while (!m_arrStatusPanes.empty())
        m_arrStatusPanes.pop_back();
}
