"""Shared helpers for the kelvora test suite."""

import subprocess
import sys
import textwrap

import pytest


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
