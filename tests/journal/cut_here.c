/* A power cut inside a Wine program, without a tracer to slow it down:
 * preloaded into the program's Unix process, this logs every write and
 * flush the program makes, and kills the program at the point it is told,
 * as a cut of the power right then would stop it.
 *
 *   QUORIN_CUT_LOG=PATH     a line per call: start and end time, the call,
 *                           the bytes written, the file
 *   QUORIN_CUT_FSYNC=N      kill on entering the N-th fsync
 *   QUORIN_CUT_AFTER=N      kill on the first write after the N-th fsync
 *   QUORIN_CUT_TEXT=TEXT and QUORIN_CUT_COUNT=N
 *                           kill on entering the N-th write that holds TEXT
 *
 * Wine's own code calls these through the C library, so they pass here.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static int log_fd = -2;
static long fsyncs, cut_fsync, cut_after, cut_count, texts;
static const char *cut_text;

static long number(const char *name)
{
    const char *value = getenv(name);
    return value ? atol(value) : 0;
}

static void start(void)
{
    if (log_fd != -2) return;
    const char *log = getenv("QUORIN_CUT_LOG");
    log_fd = log ? (int)syscall(SYS_open, log, O_WRONLY | O_APPEND | O_CREAT, 0666) : -1;
    cut_fsync = number("QUORIN_CUT_FSYNC");
    cut_after = number("QUORIN_CUT_AFTER");
    cut_count = number("QUORIN_CUT_COUNT");
    cut_text = getenv("QUORIN_CUT_TEXT");
}

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static void record(const char *call, int fd, long size, double began)
{
    if (log_fd < 0) return;
    char link[64], path[1024], line[1200];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, path, sizeof path - 1);
    path[length > 0 ? length : 0] = '\0';
    int used = snprintf(line, sizeof line, "%.6f %.6f %s %ld %s\n", began, now(), call, size, path);
    if (used > 0) syscall(SYS_write, log_fd, line, used < (int)sizeof line ? used : (int)sizeof line - 1);
}

static void cut(void) { kill(getpid(), SIGKILL); }

static void before_write(const void *data, size_t size)
{
    start();
    if (cut_after > 0 && fsyncs >= cut_after) cut();
    if (cut_text && cut_count > 0 && memmem(data, size, cut_text, strlen(cut_text)) && ++texts == cut_count) cut();
}

int fsync(int fd)
{
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    start();
    if (++fsyncs == cut_fsync) cut();
    double began = now();
    int result = real(fd);
    record("fsync", fd, 0, began);
    return result;
}

ssize_t write(int fd, const void *data, size_t size)
{
    static ssize_t (*real)(int, const void *, size_t);
    if (!real) real = (ssize_t (*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    before_write(data, size);
    double began = now();
    ssize_t result = real(fd, data, size);
    record("write", fd, result, began);
    return result;
}

ssize_t pwrite(int fd, const void *data, size_t size, off_t offset)
{
    static ssize_t (*real)(int, const void *, size_t, off_t);
    if (!real) real = (ssize_t (*)(int, const void *, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    before_write(data, size);
    double began = now();
    ssize_t result = real(fd, data, size, offset);
    record("write", fd, result, began);
    return result;
}

ssize_t pwrite64(int fd, const void *data, size_t size, off64_t offset)
{
    static ssize_t (*real)(int, const void *, size_t, off64_t);
    if (!real) real = (ssize_t (*)(int, const void *, size_t, off64_t))dlsym(RTLD_NEXT, "pwrite64");
    before_write(data, size);
    double began = now();
    ssize_t result = real(fd, data, size, offset);
    record("write", fd, result, began);
    return result;
}
