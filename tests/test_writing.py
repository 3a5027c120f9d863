"""The files that the drawings and export_latex() write: an old file is replaced only once the
new text is written whole beside it, keeping its permissions, so a write that fails part-way
(here at the file-size limit) leaves it as it was; a FIFO is written in place, and Ctrl-C stops
an open that waits for its reader."""

import os
import signal
import stat
import subprocess
import sys
import threading

from conftest import ROOT

import kelvora

CALLS = {
    "export_svg": "game.export_svg(path)",
    "export_tikz": "game.export_tikz(path)",
    "export_latex": "game.export_latex(1, path)",
}
PRELUDE = f"import sys\nsys.path.insert(0, {str(ROOT / 'examples')!r})\nfrom horse import game\n"


def horse():
    sys.path.insert(0, str(ROOT / "examples"))
    try:
        from horse import game
    finally:
        sys.path.remove(str(ROOT / "examples"))
    return game


def test_a_failed_write_leaves_the_old_file(tmp_path):
    old, new = tmp_path / "old.tex", tmp_path / "new.tex"
    for method, call in CALLS.items():
        old.write_text("the old picture")
        old.chmod(0o640)
        # Python ignores SIGXFSZ: past the limit, write() fails with EFBIG.
        script = PRELUDE + (
            "import resource\nresource.setrlimit(resource.RLIMIT_FSIZE, (100, 100))\n"
            f"for path in sys.argv[1:]:\n    try:\n        {call}\n    except BaseException as e:\n"
            "        print(type(e).__name__, (e.__cause__ or e).errno)\n")
        result = subprocess.run([sys.executable, "-c", script, str(old), str(new)],
                                capture_output=True, text=True, timeout=60)
        raised = "PanicException" if method == "export_latex" else "OSError"
        assert result.stdout == f"{raised} 27\n" * 2, (method, result.stdout + result.stderr)
        assert old.read_text() == "the old picture" and not new.exists(), method
        assert sorted(os.listdir(tmp_path)) == ["old.tex"], method  # no temporary left
        # Without the limit: replaced whole, with the old file's permissions, through a link.
        link = tmp_path / "link.tex"
        link.symlink_to(old)
        exec(call, {"game": horse(), "path": str(link)})
        assert link.is_symlink() and stat.S_IMODE(old.stat().st_mode) == 0o640
        assert old.read_text() == exec_text(horse(), method)
        link.unlink()


def test_fifo_is_written_in_place_and_ctrl_c_stops_a_waiting_open(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    game = horse()
    for method in CALLS:
        read = []
        reader = threading.Thread(target=lambda: read.append(fifo.read_text()))
        reader.start()
        exec(CALLS[method], {"game": game, "path": str(fifo)})
        reader.join(timeout=60)
        assert read and read[0] == exec_text(game, method), method
        assert stat.S_ISFIFO(os.stat(fifo).st_mode)
    for method, call in CALLS.items():  # no reader: the open waits until Ctrl-C
        script = PRELUDE + f"path = sys.argv[1]\nprint('opening', flush=True)\n{call}\n"
        process = subprocess.Popen([sys.executable, "-c", script, str(fifo)],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        assert process.stdout.readline() == "opening\n"
        try:
            process.wait(timeout=0.5)
        except subprocess.TimeoutExpired:
            pass
        process.send_signal(signal.SIGINT)
        _, err = process.communicate(timeout=60)
        assert process.returncode != 0 and "KeyboardInterrupt" in err, (method, err)


def exec_text(game, method):
    """What `method` returns as text."""
    return game.export_latex(1) if method == "export_latex" else getattr(game, method)()
