// Restarting the product's main program after an interactive run.
#pragma once

// Tells a running host (window class "QuorinClass") to close with command
// 73, keeps messages flowing for a second, and starts it again with "no".
// A host that is not running is left alone.
void RestartHost();

// Handles this thread's messages, one per pass, until more than duration
// milliseconds have passed. Never sleeps; safe across tick-count wrap-around.
void PumpMessagesFor(int duration);
