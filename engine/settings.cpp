#include "engine/settings.h"

#include "support/platform.h"

int DefaultSessionCap() {
    // The listening socket, standard streams, replacement files read per request and the
    // libraries' own descriptors all come out of this reserve.
    const long kReserve = 64;
    const long nLimit = DescriptorLimit();
    if (nLimit < 0)
        return 100000;
    return nLimit > 2 * kReserve ? static_cast<int>(nLimit - kReserve)
                                 : static_cast<int>(nLimit / 2 > 1 ? nLimit / 2 : 1);
}
