"""The public surface of the compiled module, as the build's generated type stub (_core.pyi),
against the reviewed copy in stubs/_core.pyi.ref: a changed name, signature, default or docstring
fails here and shows up in review as a diff of the reference.

The comparison ignores what does not change the surface: formatting, the import lines, how a
name is qualified (``collections.abc.Coroutine`` or ``Coroutine``) and the order of members.

After an intended change, refresh the reference and review its diff:

    ZELVO_UPDATE_STUBS=1 .venv/bin/python -m pytest tests/python/test_stubs.py
"""

from __future__ import annotations

import ast
import difflib
import os
from pathlib import Path

import pytest

import pyzelvo

REFERENCE = Path(__file__).with_name("stubs") / "_core.pyi.ref"
GENERATED = Path(pyzelvo.__file__).with_name("_core.pyi")


class _Unqualify(ast.NodeTransformer):
    """collections.abc.Coroutine -> Coroutine: the stub generator may spell a name either way."""

    def visit_Attribute(self, node: ast.Attribute) -> ast.AST:
        return ast.copy_location(ast.Name(id=node.attr, ctx=node.ctx), node)


def _key(node: ast.stmt) -> str:
    return getattr(node, "name", "") or ast.unparse(node)


def _sorted_body(body: list[ast.stmt]) -> list[ast.stmt]:
    out = []
    for node in body:
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            continue
        if isinstance(node, ast.ClassDef):
            node.body = _sorted_body(node.body)
        out.append(node)
    return sorted(out, key=_key)  # stable: overloads of one name keep their order


def normalised(text: str) -> str:
    tree = _Unqualify().visit(ast.parse(text))
    tree.body = _sorted_body(tree.body)
    return ast.unparse(tree)


def test_generated_stub_matches_the_reference():
    if not GENERATED.exists():
        pytest.skip("this build generates no stubs (sanitizer builds)")
    generated = GENERATED.read_text()
    if os.environ.get("ZELVO_UPDATE_STUBS") == "1":
        REFERENCE.write_text(generated)
    want, got = normalised(REFERENCE.read_text()), normalised(generated)
    if got != want:
        diff = difflib.unified_diff(want.splitlines(), got.splitlines(), "reference", "generated", lineterm="", n=1)
        pytest.fail("the module's surface changed (refresh the reference if intended, see the module docstring):\n"
                    + "\n".join(list(diff)[:200]))


def test_the_package_ships_stubs_for_everything_python_makes():
    folder = Path(pyzelvo.__file__).parent
    assert (folder / "py.typed").exists()
    sim_stub = (folder / "sim.pyi").read_text()
    tree = ast.parse(sim_stub)  # a valid stub
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    members = {getattr(n, "name", None) for n in classes["EmulatedDevice"].body}
    assert {"host", "port", "clock", "force_status"} <= members
    assert "usb: Literal[True]) -> EmulatedUsbDevice" in sim_stub  # add() returns the class usb says
    assert "class ReceivePacketTimeoutError(Error, TimeoutError)" in (folder / "errors.pyi").read_text()
    assert "raise_for_status" in (folder / "__init__.pyi").read_text()
