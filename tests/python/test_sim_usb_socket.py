"""USB products of an emulator reached from another process through the emulator's socket: a script
written for the hardware runs unchanged once ZELVO_USB_EMULATOR names the socket."""

from __future__ import annotations

import os
import re
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from pyzelvo import sim

pytestmark = pytest.mark.skipif(not sim.usb_products(), reason="no USB products")

# The script a user would run against the hardware; the network device's line is the one the
# sim command printed for it.
USER_SCRIPT = """
import pyzelvo
dev = pyzelvo.PellorK1D()
dev.connect("default")
print("usb", dev.serial_num, dev.Sys_getDriverInfo()[0])
dev.close()
{tcp_line}
print("tcp", dev.Sys_getDriverInfo()[0])
dev.close()
"""


def _env(socket_path=None):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    env.pop("ZELVO_LIBUSB", None)
    if socket_path:
        env["ZELVO_USB_EMULATOR"] = socket_path
    return env


def _run(script, socket_path, **kw):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                          timeout=60, env=_env(socket_path), **kw)


def test_a_user_script_runs_unchanged_against_the_sim_command():
    proc = subprocess.Popen([sys.executable, "-m", "pyzelvo", "sim", "PellorK1D", "TavraA"], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=_env())
    try:
        lines = []
        while not lines or lines[-1] != "Serving; Ctrl-C stops.":
            line = proc.stdout.readline()
            assert line, proc.stderr.read()
            lines.append(line.strip())
        serial = re.fullmatch(r"PellorK1D \(Pellor-K1-D\) serial (\w+) on USB", lines[0]).group(1)
        assert lines[1] == f'dev = pyzelvo.PellorK1D(); dev.connect("{serial}")'
        tcp_line = lines[3]
        socket_path = next(line.split("=", 1)[1] for line in lines if line.startswith("export ZELVO_USB_EMULATOR="))
        done = _run(USER_SCRIPT.format(tcp_line=tcp_line), socket_path)
        assert done.returncode == 0, done.stderr
        assert f"usb {serial} Pellor-K1-D" in done.stdout and "tcp Tavra-A" in done.stdout
        proc.send_signal(signal.SIGTERM)
        assert proc.wait(timeout=10) == 0
        assert not os.path.exists(socket_path)  # removed on the way out
    finally:
        proc.kill()
        proc.wait()


# The client: connects, reports, then waits for the test to change the emulator's bus.
FOLLOWER = """
import sys, pyzelvo
dev = pyzelvo.PellorK1AD(verbose=False)
dev.connect("default", verbose=False)
print("connected", dev.serial_num, flush=True)
sys.stdin.readline()                     # the test unplugs the device
try:
    dev.Sys_getDriverInfo(timeout=2)
    print("still answers", flush=True)
except pyzelvo.Error as e:
    print("lost", type(e).__name__, flush=True)
dev.close(verbose=False)
sys.stdin.readline()                     # the test plugs another device in
print("listed", pyzelvo.DeviceFinder(verbose=False).Bcst_enumerateUSBDevices(), flush=True)
"""


def test_unplugging_and_plugging_in_reach_the_attached_process():
    with sim.Emulator() as emu:
        first = emu.add("PellorK1AD", usb=True)
        socket_path = emu.serve_usb()
        proc = subprocess.Popen([sys.executable, "-c", FOLLOWER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, env=_env(socket_path))
        try:
            assert proc.stdout.readline().split() == ["connected", first.serial_number], proc.stderr.read()
            first.unplug()
            proc.stdin.write("\n")
            proc.stdin.flush()
            reply = proc.stdout.readline()
            while reply.startswith("USBError"):  # the receive thread reports the lost device
                reply = proc.stdout.readline()
            assert reply.split()[0] == "lost", reply
            second = emu.add("PellorK1D", usb=True)
            proc.stdin.write("\n")
            proc.stdin.flush()
            listed = proc.stdout.readline()
            while listed.startswith("Disconnected"):  # close() reports the device it let go
                listed = proc.stdout.readline()
            assert second.serial_number in listed and first.serial_number not in listed
            assert proc.wait(timeout=20) == 0, proc.stderr.read()
        finally:
            proc.kill()
            proc.wait()


HOLDER = """
import sys, pyzelvo
d = pyzelvo.PellorK1D(verbose=False)
d.connect("default", verbose=False)
print(d.Sys_getDriverInfo()[0], flush=True)
sys.stdin.readline()
"""


def test_an_attached_process_holds_the_devices_until_it_leaves():
    import pyzelvo

    with sim.Emulator() as emu:
        target = emu.add("PellorK1D", usb=True)
        socket_path = emu.serve_usb()
        assert emu.serve_usb() == socket_path  # serving again: the same socket
        with pytest.raises(RuntimeError):
            emu.serve_usb(socket_path + ".other")
        holder = subprocess.Popen([sys.executable, "-c", HOLDER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True, env=_env(socket_path))
        os.environ["ZELVO_LIBUSB"] = sim.usb_library_path()
        try:
            assert holder.stdout.readline().strip() == "Pellor-K1-D", holder.stderr.read()
            dev = pyzelvo.PellorK1D(verbose=False)
            with pytest.raises(pyzelvo.USBConnectionError, match="in use"):
                dev.connect(target.serial_number, verbose=False)
            holder.stdin.write("\n")
            holder.stdin.flush()
            assert holder.wait(timeout=20) == 0
            deadline = time.monotonic() + 10  # the emulator notices the departure at its own pace
            while True:
                try:
                    dev.connect(target.serial_number, verbose=False)
                    break
                except pyzelvo.USBConnectionError:
                    if time.monotonic() > deadline:
                        raise
                    time.sleep(0.05)
            assert dev.Sys_getDriverInfo()[0] == "Pellor-K1-D"
            dev.close(verbose=False)
        finally:
            del os.environ["ZELVO_LIBUSB"]
            holder.kill()
            holder.wait()
    assert not os.path.exists(socket_path)
