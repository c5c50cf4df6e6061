// The command line, read once at the start into the run's request: the mode
// its tail chooses (run_mode.h) and the options for unattended runs, words
// between the program path and the tail, each starting with '/'. The rest
// of the run reads this record, never the command line.
#pragma once

#include <stddef.h>

#include "support/text.h"

// A malformed option, kept for the log, which opens only after the whole
// line has been read: the word's place in the command line and why it was
// passed over.
struct IgnoredWord {
    const char *Reason;
    size_t Start;
    size_t End;
};

// The log names at most this many ignored words; more are still counted.
constexpr unsigned kNamedIgnoredWords = 8;

struct RunRequest {
    const char *CommandLine;      // the whole line, program path included
    bool Silent;                  // tail "un" or "in"
    bool Removal;                 // tail " un"; only ever with Silent
    char LogPath[kPathCapacity];  // "/log=": empty when none was given
    bool NoBoxes;                 // "/noboxes"
    unsigned IgnoredCount;        // malformed words
    IgnoredWord Ignored[kNamedIgnoredWords];
};

// Reads commandLine into request (every field set). commandLine must live
// as long as the request. A malformed option (an unknown word, an empty or
// too long path, an unterminated quote, a second "/log=") is ignored and
// counted; the options never change the mode.
void ReadRunRequest(const char *commandLine, RunRequest *request);

// The run's first log lines: program path and version, command line, mode,
// whether boxes are suppressed, and each ignored word. Nothing without an
// open log.
void LogRunStart(const RunRequest &request);
