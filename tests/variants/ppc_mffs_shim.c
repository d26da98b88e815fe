/* ppc_mffs_shim.c - preloaded into the PowerPC test programs under qemu-user only.
 *
 * glibc's 32-bit PowerPC libm (floor, ceil, round, sin, cos...) changes the rounding mode
 * with mffscrni, an instruction of the 3.0 architecture that it may use everywhere because
 * older processors execute it as a plain mffs (and glibc then sets the mode itself). The
 * emulated processors of qemu-user 7.2 raise SIGILL on it instead. This handler does what
 * an older processor does: FRT receives the FPSCR, and execution goes on after the
 * instruction. Any other SIGILL ends the process as before. */
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <ucontext.h>

#define PT_NIP_INDEX 32

static void OnIllegalInstruction(int sig, siginfo_t* info, void* context) {
    ucontext_t* uc = (ucontext_t*)context;
    mcontext_t* mc = uc->uc_mcontext.uc_regs;
    const uint32_t insn = *(const uint32_t*)mc->gregs[PT_NIP_INDEX];
    const unsigned primary = insn >> 26, extended = (insn >> 1) & 0x3FF, form = (insn >> 16) & 0x1F;
    if (primary == 63 && extended == 583 && form != 0) {
        mc->fpregs.fpregs[(insn >> 21) & 0x1F] = mc->fpregs.fpscr;
        mc->gregs[PT_NIP_INDEX] += 4;
        return;
    }
    (void)info;
    signal(sig, SIG_DFL);
}

__attribute__((constructor)) static void InstallHandler(void) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = OnIllegalInstruction;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGILL, &action, NULL);
}
