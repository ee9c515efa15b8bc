// The status bar's named panes: bookkeeping and display texts, free of any window
// system. The dialog turns what this reports into status bar calls.
#pragma once

#include "framework/vx_types.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// "name：value", or the value alone when the name is empty.
std::string ComposePaneText(const std::string& strName, const std::string& strValue);

// What the status bar shows, computed from the pane list in one locked pass.
struct CStatusBarLayout {
    std::vector<int> vecRightEdges; // one per pane; the last is -1 (to the border)
    std::vector<std::string> vecTexts;
    std::vector<std::string> vecTips;
};

class CStatusPaneList {
public:
    static const char* const kInitialValue; // what a pane shows before its first value

    CStatusPaneList() = default;
    CStatusPaneList(const CStatusPaneList&) = delete;
    CStatusPaneList& operator=(const CStatusPaneList&) = delete;

    // Appends a pane and returns its index. A name longer than the field is cut.
    int Add(const char* pszName, int nWidth);
    size_t Count() const;
    // The whole bar as the rebuild sends it.
    CStatusBarLayout Layout() const;
    // Stores a value (cut to 256 bytes) and gives the pane's display text. False, with
    // nothing changed, for an index outside the list.
    bool SetText(int nIndex, const std::string& strText, std::string& strDisplay);
    // Index of the first pane with this name (ASCII case ignored), or -1.
    int FindByName(const std::string& strName) const;
    // Writes a pane's tooltip text (cut to 256 bytes); false for a bad index.
    bool SetTip(int nIndex, const std::string& strTip);
    // Copies of a pane's fields; empty for a bad index.
    std::string GetName(int nIndex) const;
    std::string GetText(int nIndex) const;
    std::string GetDisplayText(int nIndex) const;
    void Clear();

private:
    mutable std::mutex m_csStatus;
    std::vector<std::unique_ptr<_VX_STATUS_TYPE>> m_arrStatusPanes;
};
