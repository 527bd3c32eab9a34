"""``python -m pyzelvo find`` against emulated devices on the loopback network: the table, JSON,
ringing and re-addressing by MAC, exit statuses, USB devices; and its refusal to leave this
machine while the test suite's loopback-only switch is set."""

import io
import json
import os
import subprocess
import sys

import pytest

from pyzelvo import find
from support.helpers import eventually
from support.namespace import unshare_command

WAIT = "1"


@pytest.fixture
def run(emu, capsys):
    """run(*args) -> (exit status, stdout, stderr) of find on the loopback network."""

    def go(*args):
        status = find.main(["--loopback", "--port", str(emu.discovery_port), "--answer-port", str(emu.answer_port),
                            "--wait", WAIT, *args])
        out, err = capsys.readouterr()
        return status, out, err

    return go


def test_table_of_network_devices(emu, run):
    a, b = emu.add("TavraA", host="127.0.0.2"), emu.add("AerisR3AOD", host="127.0.0.3")
    status, out, _ = run("--no-usb")
    assert status == 0
    lines = out.splitlines()
    assert lines[0] == "Network devices: 2"
    assert lines[1].split() == ["MODEL", "SERIAL", "ALIAS", "IP", "MAC", "FIRMWARE"]
    rows = {line.split()[1]: line.split() for line in lines[2:4]}
    assert rows[a.serial_number] == ["Tavra-A", a.serial_number, "Tavra-A", "192.168.1.110", a.network.mac,
                                     "Tavra-A_APP_1.0.0"]
    assert rows[b.serial_number][3] == "192.168.5.38"
    assert "USB" not in out


def test_json_for_scripts(emu, run):
    target = emu.add("Kinora", host="127.0.0.2")
    status, out, _ = run("--json", "--no-usb")
    assert status == 0
    data = json.loads(out)
    assert data["usb"] == [] and data["usb_error"] is None
    assert data["network"] == [dict(zip(find.RECORD_FIELDS, [
        "192.168.1.110", "255.255.255.0", target.network.mac, "Kinora", target.serial_number, "Kinora",
        "Kinora_APP_1.0.0", "192.168.1.1"]))]


def test_usb_devices_are_listed_too(bus, emu, run):
    usb = bus.add("PellorK1D", usb=True)
    status, out, _ = run()
    assert status == 0
    assert "USB devices: 1" in out and usb.serial_number in out and "Pellor-K1-D" in out


def test_ring_and_set_ip(emu, run):
    a, b = emu.add("TavraA", host="127.0.0.2"), emu.add("TavraA", host="127.0.0.3")
    assert run("--ring", a.network.mac)[:2] == (0, f"The device with MAC {a.network.mac} is ringing.\n")
    assert (a.network.rings, b.network.rings) == (3, 0)
    status, out, _ = run("--json", "--set-ip", b.network.mac, "10.9.0.7", "255.255.0.0", "10.9.0.1")
    assert status == 0 and json.loads(out)["status"] == 0
    assert (b.network.ip, b.network.subnet_mask, b.network.gateway) == ("10.9.0.7", "255.255.0.0", "10.9.0.1")


@pytest.mark.parametrize(
    "args, status, text",
    [
        (["--ring", "02:00:00:00:00:01"], 1, "No device with MAC 02:00:00:00:00:01 answered."),
        (["--set-ip", "MAC", "10.9.0.7", "255.255.0.0", "10.9.0.1"], 2, "not a MAC address"),
        (["--set-ip", "TARGET", "10.9.0.7", "255.0.255.0", "10.9.0.1"], 1, "refused the addresses (status -7024)"),
    ],
)
def test_field_tasks_that_fail(emu, run, args, status, text):
    target = emu.add("TavraA", host="127.0.0.2")
    args = [target.network.mac if a == "TARGET" else a for a in args]
    got, out, err = run(*args)
    assert got == status
    assert text in out + err


def test_the_command_line_entry(emu):
    target = emu.add("TavraA", host="127.0.0.2")
    done = subprocess.run(
        [sys.executable, "-m", "pyzelvo", "find", "--loopback", "--no-usb", "--json", "--wait", WAIT, "--port",
         str(emu.discovery_port), "--answer-port", str(emu.answer_port)],
        capture_output=True, text=True, timeout=60, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert done.returncode == 0, done.stderr
    assert [d["serial"] for d in json.loads(done.stdout)["network"]] == [target.serial_number]


def test_the_loopback_only_switch_stops_a_real_search():
    # In a fresh namespace of its own (no interface up), so that even a failing switch could not reach
    # a real network: the switch (inherited from the test session) refuses the broadcast before it
    # is sent.
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    assert env.get("ZELVO_BROADCAST_LOOPBACK_ONLY") == "1"
    command = unshare_command() + [sys.executable, "-m", "pyzelvo", "find", "--no-usb", "--wait", "0.1",
                                         "--answer-port", "40557"]
    done = subprocess.run(command, capture_output=True, text=True, timeout=60, env=env)
    assert done.returncode == 1
    assert "Discovery refused: the destination 255.255.255.255 is not a loopback address" in done.stderr


def test_progress_bar_fills_while_the_search_runs():
    stream = io.StringIO()
    assert find.with_progress(lambda: eventually(lambda: False, within=0.3) or "done", 0.3, stream) == "done"
    drawn = stream.getvalue()
    assert "Searching [" in drawn and drawn.endswith("\r")
