// Restarting the product's main program after an interactive run.
#pragma once

#include <windows.h>

// The product's main program, in the product directory.
inline constexpr char kHostProgram[] = "quorin.exe";

// Tells a running host (window class "QuorinClass") to close with command
// 73, keeps messages flowing for a second, and starts it again with "no":
// with the token of the shell's process, so as the person who started the
// setup and without its elevation, or where that cannot be had (no shell,
// any step refused) as before, with the setup's own; the log names the way.
// A host that is not running is left alone. whileClosed, when given, runs
// between the two instances, once the old one is gone (at most 5 seconds
// more are waited for that), or at once when no host runs.
void RestartHost(void (*whileClosed)() = nullptr);

// Handles this thread's messages, one per pass, until more than duration
// milliseconds have passed. Never sleeps; safe across tick-count wrap-around.
void PumpMessagesFor(int duration);

// Milliseconds from start to now on the tick counter, right across its
// wrap-around every 49.7 days: the unsigned difference read as signed.
int ElapsedTicks(DWORD start, DWORD now);
