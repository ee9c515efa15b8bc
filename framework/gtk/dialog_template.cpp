// Dialog-unit arithmetic for the GTK backend.
#include "framework/gtk/dialog_template.h"

namespace {

int MulDivRound(int a, int b, int c) {
    long long n = static_cast<long long>(a) * b;
    return static_cast<int>(n >= 0 ? (n + c / 2) / c : (n - c / 2) / c);
}

} // namespace

int DluToPixelsX(int nDlu, int nBaseX) {
    return MulDivRound(nDlu, nBaseX, 4);
}

int DluToPixelsY(int nDlu, int nBaseY) {
    return MulDivRound(nDlu, nBaseY, 8);
}

int BaseUnitX(int nWidthOf52Letters) {
    return (nWidthOf52Letters / 26 + 1) / 2;
}
