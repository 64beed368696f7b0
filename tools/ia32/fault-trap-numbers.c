/*
 * Preloaded into Wine's i386 processes when they run under qemu's user-mode
 * emulation (hosts without IA-32 emulation in the kernel; see emulation.sh).
 *
 * Wine tells one processor fault from another by the trap number that the
 * kernel leaves in the signal's context: 14 is a page fault (an access
 * violation), 0 a division by zero, 3 a breakpoint. qemu leaves -1 there for
 * every fault, and Wine then raises an access violation as an illegal
 * instruction. This library wraps the fault handlers that Wine installs and,
 * before each one runs, writes the trap number that the signal itself implies,
 * so Windows code sees the exceptions that a real processor raises.
 *
 * Only a context that carries no trap number is touched: on a kernel that
 * fills it in, the library changes nothing.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>
#include <ucontext.h>

enum {
    TRAP_DIVIDE = 0,
    TRAP_SINGLE_STEP = 1,
    TRAP_BREAKPOINT = 3,
    TRAP_OVERFLOW = 4,
    TRAP_INVALID_OPCODE = 6,
    TRAP_PROTECTION = 13,
    TRAP_PAGE_FAULT = 14,
    TRAP_NONE = -1
};

typedef void (*info_handler)(int, siginfo_t*, void*);
typedef int (*sigaction_function)(int, const struct sigaction*, struct sigaction*);

static volatile info_handler wrapped[NSIG];

static int TrapImpliedBy(int signal, const siginfo_t* info)
{
    switch (signal) {
    case SIGSEGV:
        /* A page fault carries its cause; a protection fault comes "from the kernel". */
        return (info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR) ? TRAP_PAGE_FAULT : TRAP_PROTECTION;
    case SIGILL:
        return TRAP_INVALID_OPCODE;
    case SIGFPE:
        /* Floating-point faults are read from the FPU's own status by Wine. */
        if (info->si_code == FPE_INTDIV) return TRAP_DIVIDE;
        if (info->si_code == FPE_INTOVF) return TRAP_OVERFLOW;
        return TRAP_NONE;
    case SIGTRAP:
        return info->si_code == TRAP_TRACE ? TRAP_SINGLE_STEP : TRAP_BREAKPOINT;
    default:
        return TRAP_NONE;
    }
}

static void SetTrapThenForward(int signal, siginfo_t* info, void* context)
{
    greg_t* registers = ((ucontext_t*)context)->uc_mcontext.gregs;
    if (registers[REG_TRAPNO] == TRAP_NONE) registers[REG_TRAPNO] = TrapImpliedBy(signal, info);
    wrapped[signal](signal, info, context);
}

static int IsFaultSignal(int signal)
{
    return signal == SIGSEGV || signal == SIGILL || signal == SIGFPE || signal == SIGTRAP || signal == SIGBUS;
}

int sigaction(int signal, const struct sigaction* action, struct sigaction* previous)
{
    static sigaction_function next;
    if (!next) next = (sigaction_function)dlsym(RTLD_NEXT, "sigaction");

    if (!IsFaultSignal(signal)) return next(signal, action, previous);

    const info_handler before = wrapped[signal];
    struct sigaction installed;
    const struct sigaction* given = action;
    if (action && (action->sa_flags & SA_SIGINFO)) {
        installed = *action;
        installed.sa_sigaction = SetTrapThenForward;
        given = &installed;
    }
    if (action) wrapped[signal] = (action->sa_flags & SA_SIGINFO) ? action->sa_sigaction : NULL;
    const int result = next(signal, given, previous);
    if (result != 0 && action) wrapped[signal] = before;
    /* Whoever asks sees the handler it installed, not this library's. */
    if (result == 0 && previous && (previous->sa_flags & SA_SIGINFO) && previous->sa_sigaction == SetTrapThenForward)
        previous->sa_sigaction = before;
    return result;
}
