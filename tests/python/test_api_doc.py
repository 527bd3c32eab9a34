"""The API reference (docs/API.md) is what tools/gen_api.py makes of the built package: a new or
changed operation, docstring or error fails here until the reference is regenerated.

    ZELVO_UPDATE_API=1 .venv/bin/python -m pytest tests/python/test_api_doc.py
"""

from __future__ import annotations

import difflib
import importlib.util
import os
from pathlib import Path

import pytest

import pyzelvo
from pyzelvo import _core

ROOT = Path(__file__).resolve().parents[2]
REFERENCE = ROOT / "docs" / "API.md"


def _generator():
    spec = importlib.util.spec_from_file_location("gen_api", ROOT / "tools" / "gen_api.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_reference_matches_the_package():
    if not Path(pyzelvo.__file__).with_name("_core.pyi").exists():
        pytest.skip("this build generates no stubs (sanitizer builds)")
    text = _generator().generate()
    if os.environ.get("ZELVO_UPDATE_API") == "1":
        REFERENCE.write_text(text)
    diff = "".join(difflib.unified_diff(REFERENCE.read_text().splitlines(True), text.splitlines(True),
                                        "docs/API.md", "generated", n=1))
    assert not diff, "docs/API.md is stale; regenerate it (see this file's docstring):\n" + diff[:4000]


def test_every_public_operation_belongs_to_one_module_section():
    """The member table comes from what each module's binder defined: every public operation of a
    product is in some module's list, so the reference leaves none out."""
    listed = {name for names in _core._MODULE_MEMBERS.values() for name in names}
    base = set(dir(_core.USBDevice)) | set(dir(_core.ETHDevice)) | set(dir(_core.WifiDevice))
    for product in ("TavraA", "PellorK1AD", "AerisR3A", "TavraEXD"):
        own = {n for n in dir(getattr(_core, product)) if not n.startswith("_")} - base
        assert own <= listed, (product, sorted(own - listed))
