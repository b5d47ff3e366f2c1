#include "console_ctrl_c.h"

// Apart from the download: windows.h has a DC_VERSION of its own, as libdivecomputer has.
#include <windows.h>

bool sendConsoleCtrlC() noexcept {
    return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
}
