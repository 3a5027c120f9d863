"""Start-up hook of the sanitizer venv: .ci/sanitize installs it into the venv's site-packages
with a .pth file, so that every Python process of the venv imports it as it starts. It does
nothing unless the sanitizer runtimes are preloaded (pip, for instance, runs without them).

- LeakSanitizer's own check at exit is off (leak_check_at_exit=0): it would turn any leak into a
  non-zero exit status, hiding pytest's own, and fail every external tool that the tests start
  (Graphviz and TeX leak by design). Instead this registers a C-level exit handler that runs a
  recoverable leak check after the interpreter has finalised: it writes its report to the log
  and leaves the exit status alone. The logs are judged by .ci/sanitizer_logs.py.
- UBSan's runtime, loaded beside ASan's, ignores log_path in UBSAN_OPTIONS and writes to
  stderr, where a subprocess that captures its output would swallow the report; the report path
  is set here instead, from KELVORA_UBSAN_LOG.
"""

import ctypes
import os


def install():
    program = ctypes.CDLL(None)
    if not hasattr(program, "__lsan_do_recoverable_leak_check"):
        return
    leak_check = ctypes.cast(program["__lsan_do_recoverable_leak_check"], ctypes.c_void_p)
    program["__cxa_atexit"](leak_check, None, None)
    path = os.environ.get("KELVORA_UBSAN_LOG")
    if path:
        ubsan = ctypes.CDLL("libubsan.so.1", mode=os.RTLD_NOLOAD)
        ubsan["__sanitizer_set_report_path"](path.encode())


install()
del install
