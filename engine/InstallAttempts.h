#pragma once

#include <windows.h>

// Waits for an install run, asking it to stop when it outlives its time: a
// run still going must never overlap the next attempt, which shares the
// buffer, the package list and the install folder. bUserStop tells whether
// the user asked to stop, so the event stays set for the attempt loop.
// Returns the run's exit code, or WAIT_TIMEOUT for a run that had to be
// asked to stop, however it then ended.
DWORD AwaitRun(HANDLE hRun, HANDLE hStopEvent, DWORD dwTimeout, bool bUserStop);
