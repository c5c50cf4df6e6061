/* Preloaded into Wine's 32-bit processes where the kernel cannot run i386
 * code and qemu-i386 emulates them. qemu hands every fault to the program
 * with trap number -1, where the kernel gives the processor's exception
 * number. Wine decides by that number what a fault is: with -1 a page fault
 * becomes an illegal instruction, so guard pages, stack growth and
 * IsBadWritePtr stop working. This library wraps the handlers the program
 * installs for the four fault signals and fills in the number the kernel
 * would have given before the program's handler sees the fault. Where the
 * kernel fills it in itself nothing changes.
 *
 * Built by scripts/install-deps with gcc -m32 into /usr/local/lib/i386-linux-gnu;
 * 64-bit processes find an empty library of the same name (ld.so expands
 * $LIB in LD_PRELOAD), or they would complain of the wrong ELF class. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <ucontext.h>

#if defined(__i386__)

typedef int (*SigactionFn)(int, const struct sigaction *, struct sigaction *);

/* The program's own handlers, by signal number. */
static struct sigaction programHandlers[NSIG];

enum { kDivide = 0, kOverflow = 4, kInvalidOpcode = 6, kProtection = 13, kPageFault = 14, kFpuError = 16,
       kAlignment = 17 };

static int IsFaultSignal(int signo)
{
    return signo == SIGSEGV || signo == SIGBUS || signo == SIGILL || signo == SIGFPE;
}

/* The exception number behind a fault, as far as the signal tells it. */
static int TrapNumber(int signo, const siginfo_t *info)
{
    switch (signo) {
    case SIGSEGV: return info->si_code == SI_KERNEL ? kProtection : kPageFault;
    case SIGBUS: return info->si_code == BUS_ADRALN ? kAlignment : kPageFault;
    case SIGILL: return kInvalidOpcode;
    default:
        if (info->si_code == FPE_INTDIV) return kDivide;
        if (info->si_code == FPE_INTOVF) return kOverflow;
        return kFpuError;
    }
}

static void Relay(int signo, siginfo_t *info, void *context)
{
    ucontext_t *uc = context;
    if (uc->uc_mcontext.gregs[REG_TRAPNO] == -1) uc->uc_mcontext.gregs[REG_TRAPNO] = TrapNumber(signo, info);
    const struct sigaction *handler = &programHandlers[signo];
    if (handler->sa_flags & SA_SIGINFO)
        handler->sa_sigaction(signo, info, context);
    else
        handler->sa_handler(signo);
}

static SigactionFn RealSigaction(void)
{
    static SigactionFn real;
    if (!real) real = (SigactionFn)dlsym(RTLD_NEXT, "sigaction");
    return real;
}

int sigaction(int signo, const struct sigaction *action, struct sigaction *old)
{
    SigactionFn real = RealSigaction();
    if (signo <= 0 || signo >= NSIG || !IsFaultSignal(signo)) return real(signo, action, old);

    struct sigaction previous;
    struct sigaction keep = programHandlers[signo];
    int result;
    if (action && action->sa_handler != SIG_DFL && action->sa_handler != SIG_IGN) {
        struct sigaction relay = *action;
        relay.sa_sigaction = Relay;
        relay.sa_flags |= SA_SIGINFO;
        programHandlers[signo] = *action; /* before the relay can run */
        result = real(signo, &relay, &previous);
        if (result != 0) programHandlers[signo] = keep;
    } else {
        result = real(signo, action, &previous);
    }
    /* The program sees its own handler, never the relay. */
    if (result == 0 && old) *old = previous.sa_sigaction == Relay ? keep : previous;
    return result;
}

#endif
