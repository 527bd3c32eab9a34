"""The ``pyzelvo`` command: every subcommand's help, --version, and list / info / stream run against
emulated devices (USB ones through the emulator's shim, network ones on loopback)."""

import csv
import json
import os
import subprocess
import sys

import pytest

import pyzelvo
import pyzelvo.sim
from pyzelvo import __main__ as command
from pyzelvo import cli


def pyzelvo_command(*args, **kwargs):
    return subprocess.run([sys.executable, "-m", "pyzelvo", *args], capture_output=True, text=True, timeout=60,
                          **kwargs)


@pytest.mark.parametrize("name", sorted(command.COMMANDS))
def test_every_command_has_help_that_names_it(name):
    run = pyzelvo_command(name, "--help")
    assert run.returncode == 0, run.stderr
    assert f"pyzelvo {name}" in run.stdout.splitlines()[0] and len(run.stdout.splitlines()) > 3


def test_version_usage_and_unknown_commands():
    assert pyzelvo_command("--version").stdout == f"pyzelvo {pyzelvo.__version__}\n"
    usage = pyzelvo_command("--help").stdout
    assert all(f"\n  {name}" in usage for name in command.COMMANDS)
    unknown = pyzelvo_command("frobnicate")
    assert unknown.returncode == 2 and "unknown command 'frobnicate'" in unknown.stderr
    assert pyzelvo_command().returncode == 2


@pytest.fixture
def run(capsys):
    def go(*argv):
        status = command.main(list(argv))
        out, err = capsys.readouterr()
        return status, out, err

    return go


def test_list_shows_the_attached_usb_devices(bus, run):
    first, second = bus.add("PellorK1D", usb=True), bus.add("PellorK1AD", usb=True)
    status, out, _ = run("list", "--no-network")
    assert status == 0
    assert out.splitlines()[0] == "USB devices: 2"
    assert first.serial_number in out and "Pellor-K1-AD" in out
    status, out, _ = run("list", "--no-network", "--json")
    assert [d["serial"] for d in json.loads(out)["usb"]] == [first.serial_number, second.serial_number]


def test_info_of_a_network_device_and_of_a_usb_device(bus, run):
    eth = bus.add("TavraA")
    status, out, err = run("info", f"{eth.host}:{eth.port}", "--product", "TavraA", "--json")
    assert status == 0, err
    info = json.loads(out)
    assert (info["product"], info["model"], info["serial"]) == ("TavraA", "Tavra-A", eth.serial_number)
    assert info["clock"].startswith("20") and info["firmware"]
    usb = bus.add("PellorK1D", usb=True)
    for target in (usb.serial_number, "usb"):
        status, out, err = run("info", target)  # the product comes from the USB enumeration
        assert status == 0, err
        assert f"Serial    {usb.serial_number}" in out and "PellorK1D" in out


@pytest.mark.parametrize("args, text", [
    (["info", "127.0.0.1:1"], "a network target needs --product"),
    (["info", "127.0.0.1:99999", "--product", "TavraA"], "a port is between 1 and 65535"),
    (["info", "127.0.0.1:1", "--product", "PellorK1D"], "PellorK1D is a USB product"),
    (["info", "127.0.0.1:1", "--product", "Nothing"], "unknown product 'Nothing'"),
    (["info", "ZS000000"], "no device with serial number ZS000000 is attached over USB"),
    (["stream", "usb", "--out", "x.csv"], "no device of the family is attached over USB"),
])
def test_refusals_are_one_line_and_status_1(bus, run, args, text):
    status, out, err = run(*args)
    assert status == 1 and out == ""
    assert err.startswith("error: ") and text in err and err.count("\n") == 1


def test_an_unreachable_network_device_is_reported(run):
    with pyzelvo.sim.Emulator() as gone:
        device = gone.add("TavraA")
        address = f"{device.host}:{device.port}"
    status, _, err = run("info", address, "--product", "TavraA")
    assert status == 1 and err.startswith(f"error: cannot connect to {address}")


def test_stream_writes_every_sample_with_its_time(bus, run, tmp_path):
    dev = bus.add("TavraA")
    out = tmp_path / "run.csv"
    rate = 2000.0
    status, text, err = run("stream", f"{dev.host}:{dev.port}", "--product", "TavraA", "--port", "0",
                            "--rate", str(rate), "--seconds", "0.5", "--out", str(out))
    assert status == 0, err
    rows = list(csv.reader(out.open()))
    header, data = rows[0], rows[1:]
    assert header[:2] == ["index", "time_s"] and header[2] == "ch0"
    written, dropped = (int(w) for w in (text.split()[0], text.rsplit(" ", 1)[1]))
    assert written == len(data) > 0 and dropped == 0
    indexes = [int(r[0]) for r in data]
    assert indexes == list(range(indexes[0], indexes[0] + len(indexes)))  # nothing lost, nothing twice
    assert all(float(r[1]) == pytest.approx(int(r[0]) / rate, abs=1e-6) for r in data)
    assert all(len(r) == len(header) for r in data)


def test_target_texts():
    assert cli.Target.parse("usb") == cli.Target(usb=True)
    assert cli.Target.parse("ZS12AB34") == cli.Target(usb=True, serial="ZS12AB34")
    assert cli.Target.parse("127.0.0.5:7:1336") == cli.Target(usb=False, host="127.0.0.5", port=7, data_port=1336)
    for bad in ("127.0.0.1:x", "127.0.0.1:1:2:3", ":7"):
        with pytest.raises(cli.CommandError):
            cli.Target.parse(bad)


def test_the_tour_runs_through(tmp_path):
    run = pyzelvo_command("tour", cwd=tmp_path, env={**os.environ, "MPLBACKEND": "Agg"})
    assert run.returncode == 0, run.stderr
    assert run.stdout.rstrip().endswith("Done.") and "Traceback" not in run.stderr
