"""Shared helpers for the kelvora test suite."""

import importlib.util
import os
import shlex
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
def probe(tmp_path_factory):
    """The test-only extension _kelvora_probe, built from the module's own boundary sources.

    KELVORA_PROBE_FLAGS adds compiler flags (for instance the sanitizers)."""
    compiler = shutil.which(os.environ.get("CXX", "g++"))
    if compiler is None:
        pytest.skip("no C++ compiler to build the test probe")
    sources = [p for p in sorted((ROOT / "src").rglob("*.cpp")) if p.name != "module.cpp"]
    sources.append(ROOT / "tests" / "probe" / "probe.cpp")
    target = tmp_path_factory.mktemp("probe") / (
        "_kelvora_probe" + sysconfig.get_config_var("EXT_SUFFIX"))
    command = [
        compiler, "-std=c++20", "-O1", "-g", "-fPIC", "-shared", "-fvisibility=hidden",
        "-Wall", "-Wextra", "-Werror",
        f"-I{ROOT / 'src'}", f"-I{sysconfig.get_paths()['include']}",
        *shlex.split(os.environ.get("KELVORA_PROBE_FLAGS", "")),
        *map(str, sources), "-o", str(target),
    ]
    # The compiler must not inherit a sanitizer runtime preloaded into this interpreter.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run(command, check=True, env=env)
    spec = importlib.util.spec_from_file_location("_kelvora_probe", target)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module
