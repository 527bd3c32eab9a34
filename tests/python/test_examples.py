"""The examples folder: every example the catalogue lists exists once the modules it calls are
built (decided by the module list: a module with a library class), every script is listed, and
each one runs against the emulator; `python -m pyzelvo examples` lists them."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

import pyzelvo as z
from pyzelvo import examples

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
LISTED = [(category, name) for category, names in z.EXAMPLE_CONSOLE_DICT.items() for name in names]
SCRIPTS = sorted(EXAMPLES.glob("*/*.py"))
# The scripts run in a fresh interpreter in another directory: it imports the package this test does.
ENV = {**os.environ, "PYTHONPATH": os.pathsep.join([str(Path(z.__file__).absolute().parents[1]),
                                                    os.environ.get("PYTHONPATH", "")]),
       "PYTHONWARNINGS": "error"}


def test_a_built_module_brings_its_examples_and_every_script_is_listed():
    missing = [f"{c}/{n}.py" for c, n in LISTED if examples.implemented(c, n) and not (EXAMPLES / c / f"{n}.py").exists()]
    assert missing == []
    unlisted = [str(p.relative_to(EXAMPLES)) for p in SCRIPTS if (p.parent.name, p.stem) not in LISTED]
    assert unlisted == []
    assert examples.implemented("PWM", "generate_pwm")


@pytest.mark.parametrize("script", SCRIPTS, ids=lambda p: f"{p.parent.name}/{p.stem}")
def test_example_runs_against_the_emulator(script, tmp_path):
    run = subprocess.run([sys.executable, str(script), "--emulate"], cwd=tmp_path, capture_output=True, text=True,
                         timeout=120, env=ENV)
    assert run.returncode == 0, run.stderr
    assert run.stderr == ""
    lines = run.stdout.splitlines()
    assert lines[0].startswith("Emulating ") and any(line.startswith("Closed handle (") for line in lines)
    own = [line for line in lines if not line.startswith(("Emulating ", "Opened handle", "Connected to", "Disconnected",
                                                          "Closed handle"))]
    assert own  # the example's own output


def test_example_command_line(capsys):
    example = examples.Example("Counter", "count_pulses", argv=["--product", "PellorK1AD"])
    assert (example.product, example.port, example.target, example.emulate) == ("PellorK1AD", 1, "default", False)
    assert examples.Example("DPOT", "set_all_channels", argv=["10.0.0.9"]).target == "10.0.0.9"
    with pytest.raises(SystemExit):  # TavraL has no counter
        examples.Example("Counter", "count_pulses", argv=["--product", "TavraL"])
    assert "invalid choice" in capsys.readouterr().err


def test_python_m_pyzelvo_examples_lists_products_and_categories():
    run = subprocess.run([sys.executable, "-m", "pyzelvo", "examples"], capture_output=True, text=True, timeout=60,
                         env=ENV)
    assert run.returncode == 0
    for name in z.HANDLE_LIST:
        assert f"({name})" in run.stdout
    for category in z.CATEGORY_CONSOLE_LIST:
        assert f"{category}/" in run.stdout
    assert "PWM/generate_pwm.py  Generate PWM\n" in run.stdout
    assert "CAN/send_frames.py  Send CAN frames\n" in run.stdout
    one = subprocess.run([sys.executable, "-m", "pyzelvo", "examples", "TavraP"], capture_output=True, text=True,
                         timeout=60, env=ENV)
    assert "DPOT/set_all_channels.py" in one.stdout and "(TavraL)" not in one.stdout
    bad = subprocess.run([sys.executable, "-m", "pyzelvo", "examples", "Nope"], capture_output=True, text=True,
                         timeout=60, env=ENV)
    assert bad.returncode == 2 and "Products:" in bad.stderr


def test_the_listing_marks_examples_whose_modules_this_version_lacks(monkeypatch, capsys):
    without_can = [m for m in examples._core._IMPLEMENTED_MODULES if m != "CANModule"]
    monkeypatch.setattr(examples._core, "_IMPLEMENTED_MODULES", without_can)
    assert not examples.implemented("CAN", "send_frames") and examples.implemented("PWM", "generate_pwm")
    assert examples.main(["PellorK1CD", "TavraD"]) == 0
    out = capsys.readouterr().out
    assert "CAN/send_frames.py  Send CAN frames  (not in this version)\n" in out
    assert "PWM/generate_pwm.py  Generate PWM\n" in out


def test_re_addressing_changes_only_a_named_or_emulated_device():
    assert examples.Example("System_ETH", "set_ip_address", argv=["10.0.0.9"]).target_named
    assert not examples.Example("System_ETH", "set_ip_address", argv=["--emulate"]).target_named
    run = subprocess.run([sys.executable, str(EXAMPLES / "System_ETH" / "set_ip_address.py")], capture_output=True,
                         text=True, timeout=60, env=ENV)
    assert run.returncode == 1 and "Name the device" in run.stderr and run.stdout == ""  # nothing opened
