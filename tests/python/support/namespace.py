"""Private network namespaces for the tests that need real broadcasts: nothing sent inside one can
reach a real network."""

from __future__ import annotations

import shutil
import subprocess

import pytest


def unshare_command() -> list[str]:
    """The command prefix that runs a program in a new user and network namespace; skips the test
    (saying why) where that is not possible."""
    if shutil.which("unshare") is None or shutil.which("ip") is None:
        pytest.skip("needs unshare and ip (iproute2) to make a private network namespace")
    probe = subprocess.run(["unshare", "-rn", "ip", "link", "set", "lo", "up"], capture_output=True, text=True)
    if probe.returncode != 0:
        pytest.skip(f"user and network namespaces are not available here: {probe.stderr.strip()}")
    return ["unshare", "-rn"]
