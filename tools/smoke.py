"""Install-and-smoke check of an installed pyzelvo (run by tools/wheels.sh in a fresh environment,
from outside the source tree): the package imports from its wheel, a network and a USB product
answer through the built-in emulator, a block read streams, and the console script runs."""

import shutil
import subprocess
import sys

import pyzelvo
from pyzelvo import sim

assert "site-packages" in pyzelvo.__file__, f"not the installed package: {pyzelvo.__file__}"
with sim.Emulator() as emu:
    eth = emu.add("TavraA")
    with pyzelvo.TavraA(verbose=False) as dev:
        dev.connect(eth.host, eth.port, verbose=False)
        assert dev.Sys_getSerialNumber() == eth.serial_number
        assert dev.AI_open(0) == 0
        eth.ignore_first(122, 100)  # the serial-number request goes unanswered: a time-out
        try:
            dev.Sys_getSerialNumber(timeout=0.3)
            raise AssertionError("no time-out")
        except TimeoutError as e:
            assert isinstance(e, pyzelvo.ReceivePacketTimeoutError)
    usb = emu.add("PellorK1D", usb=True)
    # This process reaches emulated USB devices through the emulator's shim, in a child process.
    code = ("import pyzelvo; d = pyzelvo.PellorK1D(verbose=False); d.connect(%r, verbose=False); "
            "print(d.Sys_getSerialNumber()); d.close(verbose=False)" % usb.serial_number)
    socket = emu.serve_usb()
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                           env={"ZELVO_USB_EMULATOR": socket, "PATH": ""})
    assert child.stdout.split()[:1] == [usb.serial_number], (child.stdout, child.stderr)
script = shutil.which("pyzelvo", path=str(__import__("pathlib").Path(sys.executable).parent))
version = subprocess.run([script, "--version"], capture_output=True, text=True, check=True).stdout
assert version == f"pyzelvo {pyzelvo.__version__}\n", version
print(f"pyzelvo {pyzelvo.__version__} on Python {sys.version.split()[0]}: installed, imports, talks to the emulator")
