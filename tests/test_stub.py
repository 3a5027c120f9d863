"""The installed type stub describes the module as it is."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import kelvora


def test_stub_is_installed_beside_the_module_and_matches_it(tmp_path):
    stub = Path(kelvora.__file__).with_name("kelvora.pyi")
    assert stub.is_file()
    # mypy reads a top-level module's stub from site-packages only through MYPYPATH, which may
    # not name site-packages itself: check a copy.
    shutil.copy(stub, tmp_path / "kelvora.pyi")
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "kelvora"],
        cwd=tmp_path,
        env={**os.environ, "MYPYPATH": str(tmp_path)},
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert result.returncode == 0, result.stdout + result.stderr
