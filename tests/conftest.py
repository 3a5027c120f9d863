"""Shared helpers for the kelvora test suite."""

import hashlib
import importlib.util
import os
import shutil
import subprocess
import sys
import sysconfig
import textwrap
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


def run_fresh(code: str) -> subprocess.CompletedProcess:
    """Runs `code` in a new interpreter (fresh counters, fresh module) and returns the result."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
    )


@pytest.fixture
def fresh():
    def run(code: str) -> str:
        result = run_fresh(code)
        assert result.returncode == 0, result.stderr
        return result.stdout

    return run


@pytest.fixture(scope="session")
def probe():
    """The test-only extension _kelvora_probe, built by CMake (the option KELVORA_PROBE) from the
    module's own sources and tests/probe/probe.cpp, in a build directory kept between runs:
    build/dev, whose compile_commands.json editors find at the repository root, or with
    KELVORA_PROBE_FLAGS (added compiler flags, for instance the sanitizers) one of its own."""
    bin_dir = str(Path(sys.executable).parent)
    cmake = shutil.which("cmake", path=os.pathsep.join([bin_dir, os.environ.get("PATH", "")]))
    if cmake is None:
        pytest.skip("no cmake to build the test probe")
    flags = os.environ.get("KELVORA_PROBE_FLAGS", "")
    build = ROOT / "build" / (
        f"probe-{hashlib.sha256(flags.encode()).hexdigest()[:12]}" if flags else "dev")
    # Configured once per interpreter: a build directory made for another one starts afresh.
    cache = build / "CMakeCache.txt"
    made_for = f"Python_EXECUTABLE:FILEPATH={sys.executable}\n"
    # The compiler must not inherit a sanitizer runtime preloaded into this interpreter.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    if not cache.exists() or made_for not in cache.read_text():
        # A development build: warnings are errors, as in CI.
        subprocess.run([cmake, "--fresh", "-S", str(ROOT), "-B", str(build), "-DKELVORA_PROBE=ON",
                        "-DKELVORA_WERROR=ON", f"-DPython_EXECUTABLE:FILEPATH={sys.executable}",
                        f"-DCMAKE_CXX_FLAGS=-O1 -g {flags}"],
                       check=True, env=env, stdout=subprocess.DEVNULL)
    subprocess.run([cmake, "--build", str(build), "--target", "_kelvora_probe", "--parallel", "2"],
                   check=True, env=env, stdout=subprocess.DEVNULL)
    target = build / ("_kelvora_probe" + sysconfig.get_config_var("EXT_SUFFIX"))
    spec = importlib.util.spec_from_file_location("_kelvora_probe", target)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module
