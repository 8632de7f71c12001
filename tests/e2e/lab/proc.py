"""Child processes that cannot outlive the test: each is killed by the kernel
when the Python process that started it dies, even by SIGKILL (a ctest
time-out), and SIGTERM ends the Python process through its clean-up code."""
import ctypes
import signal
import sys

_PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL(None, use_errno=True)


def die_with_parent():
    """preexec_fn for subprocess.Popen."""
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def exit_on_sigterm():
    """Turns SIGTERM into SystemExit so that `finally` blocks and test
    clean-ups stop the servers."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
