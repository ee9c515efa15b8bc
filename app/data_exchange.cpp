// Integer parsing, the range message and the combo box's prefix search.
#include "app/data_exchange.h"

#include "support/ascii.h"

#include <climits>

const char* const kEnterIntegerText = "请输入一个整数。";

bool ParseDialogInt(const std::string& strText, int& nValue) {
    size_t nBegin = 0;
    size_t nEnd = strText.size();
    while (nBegin < nEnd && (strText[nBegin] == ' ' || strText[nBegin] == '\t'))
        ++nBegin;
    while (nEnd > nBegin && (strText[nEnd - 1] == ' ' || strText[nEnd - 1] == '\t'))
        --nEnd;
    if (nBegin == nEnd)
        return false;
    return ParseDecimalInt(std::string_view(strText).substr(nBegin, nEnd - nBegin), nValue);
}

std::string RangeMessage(int nMin, int nMax) {
    std::string strMessage = "请输入一个在 %1 和 %2 之间的整数。";
    const std::string strFirst = std::to_string(nMin);
    const std::string strSecond = std::to_string(nMax);
    size_t nPos = strMessage.find("%1");
    if (nPos != std::string::npos)
        strMessage.replace(nPos, 2, strFirst);
    nPos = strMessage.find("%2");
    if (nPos != std::string::npos)
        strMessage.replace(nPos, 2, strSecond);
    return strMessage;
}

int FindPrefixItem(const std::vector<std::string>& vecItems, const std::string& strPrefix) {
    for (size_t i = 0; i < vecItems.size(); ++i) {
        if (StartsWithNoCaseAscii(vecItems[i], strPrefix))
            return static_cast<int>(i);
    }
    return -1;
}
