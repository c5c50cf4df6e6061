// One setup at a time, across every module of the product. All module
// setups share the work directory, quorin.cfg, quorin.inf and the Options
// key, and each reads, changes and writes them back; two at once lose each
// other's changes or copy each other's files.
#pragma once

// Waits for the machine-wide setup mutex, at most kSetupWaitMs. True when
// the run may go on: the mutex is this run's (taken free or abandoned by a
// setup that died holding it), or it cannot be had at all (an object of the
// name that is no mutex, access denied), when the run goes on without it
// as before. False when another setup still held it at the end of the wait.
bool TakeSetupMutex();

// Lets the mutex go, when this run holds it.
void ReleaseSetupMutex();
