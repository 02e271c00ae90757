#include "windows.h"

// Per thread, as on the platform.
static thread_local DWORD t_lastError = ERROR_SUCCESS;

DWORD GetLastError(void) {
    return t_lastError;
}

void SetLastError(DWORD code) {
    t_lastError = code;
}
