// When a client test's intervals end: every dInterval seconds, and once more where the
// omitted warm-up ends, so that no interval is partly omitted.
#pragma once

#include <cmath>

struct CIntervalPlan {
    double dInterval = 1.0;
    double dOmit = 0.0;

    // The first interval end after dElapsed seconds.
    double NextEnd(double dElapsed) const {
        if (dElapsed < dOmit) {
            const double dEnd = (std::floor(dElapsed / dInterval + 1e-9) + 1) * dInterval;
            return dEnd < dOmit - 1e-9 ? dEnd : dOmit;
        }
        const double dSince = dElapsed - dOmit;
        return dOmit + (std::floor(dSince / dInterval + 1e-9) + 1) * dInterval;
    }
    // An interval that starts at dStart lies in the warm-up.
    bool IsOmitted(double dStart) const { return dStart < dOmit - 1e-6; }
};
