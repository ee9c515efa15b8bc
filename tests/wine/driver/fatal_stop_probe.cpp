// Calls FatalStop the way the release gate does; the Wine test reads its box and checks
// that the process ends with exit code 0.
#include "support/os_info.h"
#include "support/system_info.h"

int main() {
    FatalStop(kUnsupportedOSText, 5000);
}
