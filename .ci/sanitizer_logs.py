"""Judges the sanitizer logs of a test run (one file per process, from ASan's and UBSan's
log_path) and exits non-zero when they show a fault.

    python3 .ci/sanitizer_logs.py LOG_DIR

Fails on:
- any AddressSanitizer or UndefinedBehaviorSanitizer report ("ERROR: AddressSanitizer",
  "runtime error:", or any other "ERROR: ...Sanitizer" line except a leak report), whatever
  process wrote it, so that a report swallowed by a subprocess whose output nobody reads is
  still seen;
- a direct leak whose allocation stack has a frame in the extension (kelvora*.so, or the test
  probe _kelvora_probe*.so built from the same sources).

Ignored, but counted:
- leaks whose stacks never touch the extension: the interpreter's and the external tools' own;
- indirect leaks: blocks reachable only from other leaked blocks. Instances do not take part in
  cyclic garbage collection, so a node placed among its own descendants (the suite does this on
  purpose) is never freed, and LeakSanitizer reports every block of such a cycle as an indirect
  leak. A block leaked by a missing release is unreachable from anything, so it is a direct leak,
  and the blocks it holds are the indirect ones.
"""

import re
import sys
from pathlib import Path

MODULE_FRAME = re.compile(r"kelvora[^/\s()]*\.so\b")
LEAK_HEADER = re.compile(r"^(Direct|Indirect) leak of (\d+) byte\(s\) in (\d+) object\(s\)")
FRAME = re.compile(r"^\s+#\d+ ")
FAULT = re.compile(r"ERROR: (?!LeakSanitizer: detected memory leaks)\w*Sanitizer|runtime error:")


def leaks(lines):
    """Yields (kind, bytes, objects, frames) for each leak block of a LeakSanitizer report."""
    i = 0
    while i < len(lines):
        header = LEAK_HEADER.match(lines[i])
        i += 1
        if header is None:
            continue
        frames = []
        while i < len(lines) and FRAME.match(lines[i]):
            frames.append(lines[i])
            i += 1
        yield header[1], int(header[2]), int(header[3]), frames


def main(log_dir):
    logs = sorted(Path(log_dir).glob("*"))
    failures = []
    ignored = {"Direct": [0, 0], "Indirect": [0, 0]}
    for log in logs:
        text = log.read_text(errors="replace")
        lines = text.splitlines()
        if any(FAULT.search(line) for line in lines):
            failures.append(f"{log.name}: sanitizer report\n{text}")
        for kind, size, count, frames in leaks(lines):
            if kind == "Direct" and any(MODULE_FRAME.search(f) for f in frames):
                failures.append(f"{log.name}: {kind.lower()} leak of {size} bytes in {count} "
                                f"objects from the extension\n" + "\n".join(frames))
            else:
                ignored[kind][0] += size
                ignored[kind][1] += count
    print(f"sanitizer logs: {len(logs)} files in {log_dir}; ignored leaks: "
          + ", ".join(f"{kind.lower()} {size} bytes in {count} objects"
                      for kind, (size, count) in ignored.items()))
    for failure in failures:
        print(f"\n=== {failure}", file=sys.stderr)
    if failures:
        print(f"sanitizer logs: {len(failures)} faults", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
