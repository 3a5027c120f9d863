"""Judges a valgrind memcheck XML report (--xml=yes) of a run of the extension and exits
non-zero when it shows a fault.

    python3 .ci/valgrind_report.py REPORT.xml

The interpreter runs clean of invalid accesses (reads, writes, frees, jumps, overlapping copies)
under valgrind, so every such error fails, wherever it is. It is not clean of uses of
uninitialised values (its start-up reads random bytes that valgrind does not see initialised)
nor of leaks (it keeps objects to the end; objects of its cyclic collector are pointed to past
their header, and so are "possibly lost"), so for these kinds only an error whose stack has a
frame in the extension (kelvora*.so) fails: an uninitialised value used with the extension on
the stack, or a "definitely lost" block allocated from within it.
"""

import collections
import re
import sys
import xml.etree.ElementTree as ET

MODULE = re.compile(r"kelvora[^/]*\.so$")
# Kinds that the interpreter itself gives, judged only when the extension is on the stack.
NOISY = {"UninitValue", "UninitCondition", "Leak_DefinitelyLost"}
# Kinds that are not faults of the code run (the interpreter keeps these blocks on purpose).
IGNORED = {"Leak_PossiblyLost", "Leak_IndirectlyLost", "Leak_StillReachable"}


def describe(error):
    """The error's text and its stacks (where it happened, then where the block came from)."""
    lines = [f"{error.findtext('kind')}: "
             f"{error.findtext('what') or error.findtext('xwhat/text') or ''}"]
    for part in error:
        if part.tag == "auxwhat":
            lines.append(f"  {part.text}")
        elif part.tag == "stack":
            for frame in part.iter("frame"):
                place = frame.findtext("file")
                place = f"{place}:{frame.findtext('line')}" if place else frame.findtext("obj")
                lines.append(f"    {frame.findtext('fn') or '???'} ({place or '?'})")
    return "\n".join(lines)


def main(path):
    report = ET.parse(path).getroot()
    failures, counts = [], collections.Counter()
    for error in report.iter("error"):
        kind = error.findtext("kind")
        in_module = any(MODULE.search(f.findtext("obj") or "") for f in error.iter("frame"))
        counts[kind, in_module] += 1
        if kind in IGNORED or (kind in NOISY and not in_module):
            continue
        failures.append(describe(error))
    finished = any(s.findtext("state") == "FINISHED" for s in report.iter("status"))
    summary = ", ".join(f"{kind}{' (extension)' if mine else ''} x{n}"
                        for (kind, mine), n in sorted(counts.items()))
    print(f"valgrind report {path}: {summary or 'no errors'}")
    for failure in failures:
        print(f"\n=== {failure}", file=sys.stderr)
    if failures:
        print(f"valgrind report: {len(failures)} faults", file=sys.stderr)
        return 1
    if not finished:
        print("valgrind report: the run did not finish", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
