// The command line's options for unattended runs: words between the program
// path and the tail, each starting with '/'. They never change the run mode,
// which the tail alone decides (run_mode.h).
#pragma once

#include <stddef.h>

#include "support/text.h"

struct RunOptions {
    char LogPath[kPathCapacity];  // "/log=": empty when none was given
    bool NoBoxes;                 // "/noboxes"
    unsigned IgnoredCount;        // malformed words
};

// Reads the options of commandLine into options (every field set). A
// malformed option (an unknown word, an empty or too long path, an
// unterminated quote, a second "/log=") is ignored, counted, and named in
// the log when one is open.
void ParseRunOptions(const char *commandLine, RunOptions *options);

// The run's first log lines: program path and version, command line, mode,
// whether boxes are suppressed, and each ignored word. Nothing without an
// open log.
void LogRunStart(const char *commandLine, const RunOptions &options);
