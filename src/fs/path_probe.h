// Existence tests. Every part of the program asks through ProbePath.
#pragma once

#include <stdint.h>

constexpr int32_t kProbeMissing = -1;
constexpr int32_t kProbeDirectory = -2;

// -1 when the path is empty, 260 characters or longer, or names nothing;
// -2 for a directory; otherwise the plain file's size in bytes. A file of
// 2 GiB or more reports INT32_MAX, so it still reads as a non-empty file.
int32_t ProbePath(const char *path);
