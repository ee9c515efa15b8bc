// The checks of the dialog's data exchange, free of any window.
#pragma once

#include <string>
#include <vector>

// A decimal integer as an edit box holds it: blanks around it and one sign allowed,
// nothing else; false when the text is not one or does not fit an int.
bool ParseDialogInt(const std::string& strText, int& nValue);

// "请输入一个整数。"
extern const char* const kEnterIntegerText;
// "请输入一个在 %1 和 %2 之间的整数。" with the two bounds filled in.
std::string RangeMessage(int nMin, int nMax);

// Index of the first item that begins with strPrefix (ASCII case ignored), or -1.
int FindPrefixItem(const std::vector<std::string>& vecItems, const std::string& strPrefix);
