"""Broadcast discovery against emulated devices on the loopback network: one and several devices, a
duplicate MAC, answers that are no records, lost copies, setting addresses, ringing and rebooting
by MAC, in both families; argument types. The real broadcast path (interface
enumeration, 255.255.255.255, several receivers on one port) runs inside a private network
namespace. (The request bytes, the decoding of every answer, no answer, one search at a time and an
unbound finder are checked in tests/cpp/test_broadcast_module.cpp.)"""

import json
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

import pyzelvo as z
from pyzelvo import find
from support.helpers import connect, eventually
from support.namespace import unshare_command

COLLECT = 1.0  # seconds each search collects answers here (the driver's 5 s is checked once)
SET_IP, REBOOT, RING, INFO = 253, 254, 2582, 252
NOBODY = "02:00:00:00:00:01"


@pytest.fixture
def finder(emu):
    """A finder that broadcasts on the loopback network to the emulator's discovery port."""
    f = find.open_finder(target=find.LOOPBACK_TARGET, sources=[find.LOOPBACK_SOURCE], bind=find.LOOPBACK_SOURCE,
                         port=emu.discovery_port, answer_port=emu.answer_port, wait=COLLECT)
    yield f
    find.close_quietly(f)


def expected_record(d):
    n = d.network
    alias = d.alias.encode()[:16].decode(errors="replace")
    return [n.ip, n.subnet_mask, n.mac, d.model, d.serial_number, alias, f"{d.model}_APP_1.0.0", n.gateway]


@pytest.mark.parametrize("hosts", [["127.0.0.2"], ["127.0.0.2", "127.0.0.3", "127.0.0.3"]], ids=["one", "three"])
def test_every_device_is_found_once_with_its_record(emu, finder, call, hosts):
    added = [emu.add(model, host=host) for model, host in zip(["TavraA", "AerisR3AH", "Koru"], hosts)]
    added[0].alias = "an alias over 16 bytes"
    assert sorted(call(finder, "Bcst_enumerateNetworkDevices")) == sorted(expected_record(d) for d in added)


def test_the_driver_collects_for_five_seconds(emu, finder):
    emu.add("TavraA", host="127.0.0.2")
    finder._collect_seconds = z.PACKET_TIMEOUT
    start = time.monotonic()
    assert len(finder.Bcst_enumerateNetworkDevices()) == 1
    assert time.monotonic() - start >= z.PACKET_TIMEOUT
    assert z.DeviceFinder(verbose=False)._collect_seconds == z.PACKET_TIMEOUT


def test_two_devices_with_one_mac_both_act(emu, finder, call):
    a, b = emu.add("TavraA", host="127.0.0.2"), emu.add("TavraD", host="127.0.0.3")
    b.network.mac = a.network.mac
    assert len(call(finder, "Bcst_enumerateNetworkDevices")) == 2  # told apart by the rest of the record
    assert call(finder, "Bcst_checkMACAndSetIP", "10.9.0.5", a.network.mac, "10.9.0.1", "255.255.0.0") == 0
    assert a.network.ip == b.network.ip == "10.9.0.5"


def test_answers_that_are_no_records_are_skipped(emu, finder):
    good, short, unmarked = (emu.add("TavraA", host=f"127.0.0.{n}") for n in (2, 3, 4))
    short.network.answer_limit = 105  # one byte short of a record
    unmarked.network.answer_mark = 0  # not an answer
    assert [r[4] for r in finder.Bcst_enumerateNetworkDevices()] == [good.serial_number]


@pytest.mark.parametrize("lost, found", [(2, 1), (3, 0)])
def test_a_device_that_hears_only_some_copies(emu, finder, lost, found):
    target = emu.add("TavraA", host="127.0.0.2")
    target.network.ignore_discovery(lost)
    assert len(finder.Bcst_enumerateNetworkDevices()) == found
    assert target.network.discovery_requests(INFO) == z.NUM_BCST_RETRIES


def test_set_addresses_by_mac(emu, finder, call):
    a, b = emu.add("TavraA", host="127.0.0.2"), emu.add("AerisR3A", host="127.0.0.3")
    assert call(finder, "Bcst_checkMACAndSetIP", "10.9.0.5", a.network.mac.upper(), "10.9.0.254", "255.255.0.0") == 0
    assert (a.network.ip, a.network.subnet_mask, a.network.gateway) == ("10.9.0.5", "255.255.0.0", "10.9.0.254")
    assert b.network.ip == "192.168.5.38"  # the other device did not act
    # an address the device refuses: the first answer's status as a code
    assert call(finder, "Bcst_checkMACAndSetIP", "10.9.0.6", a.network.mac, "10.9.0.254", "255.0.255.0") == -7024
    assert a.network.ip == "10.9.0.5"


def test_ring_by_mac(emu, finder, call):
    a, b = emu.add("TavraA", host="127.0.0.2"), emu.add("TavraA", host="127.0.0.3")
    record = call(finder, "Bcst_checkMACAndRing", a.network.mac)
    assert record == b"\x00\x00" + bytes.fromhex(a.network.mac.replace(":", ""))
    assert (a.network.rings, b.network.rings) == (z.NUM_BCST_RETRIES, 0)  # every copy rings


def test_reboot_by_mac_drops_the_connection_for_a_while(emu, finder, call, closing):
    target = emu.add("TavraA", host="127.0.0.2")
    target.network.reboot_seconds = 0.5
    dev = connect(z.TavraA(verbose=False), target)
    closing.append(dev)
    assert call(finder, "Bcst_checkMACAndReboot", target.network.mac) == 0
    assert target.network.reboots == 1  # the later copies reached a rebooting device
    assert eventually(lambda: not dev.connect_status_cmd)

    def reconnected():
        try:
            connect(dev, target)
        except z.NetworkConnectionError:
            return False
        return dev.Sys_getSerialNumber() == target.serial_number

    assert eventually(reconnected, within=10)


@pytest.mark.parametrize(
    "op, args",
    [("Bcst_checkMACAndRing", (17,)), ("Bcst_checkMACAndReboot", (None,)),
     ("Bcst_checkMACAndSetIP", ("10.0.0.1", NOBODY, "10.0.0.254", 24))],
)
def test_wrong_argument_types_are_refused_at_the_call(emu, finder, op, args):
    target = emu.add("TavraA", host="127.0.0.2")
    for name in (op, op + "_async"):  # the awaitable form too, before anything is awaited
        with pytest.raises(z.InputTypeNotCorrectError):
            getattr(finder, name)(*args)
    time.sleep(0.05)
    assert sum(target.network.discovery_requests(code) for code in (SET_IP, REBOOT, RING)) == 0


# --- the real broadcast path, inside a private network namespace -------------------------------------

NAMESPACE_SCRIPT = Path(__file__).parent / "support" / "netns_discovery.py"


def test_real_broadcast_path_in_a_private_namespace():
    # The loopback-only switch is lifted in there: nothing sent inside can leave the namespace.
    env = {k: v for k, v in os.environ.items() if k != "ZELVO_BROADCAST_LOOPBACK_ONLY"}
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    done = subprocess.run(unshare_command() + [sys.executable, str(NAMESPACE_SCRIPT)], capture_output=True, text=True,
                          env=env, timeout=120)
    assert done.returncode == 0, done.stderr
    seen = json.loads(done.stdout)
    print(seen)  # shown when an assertion below fails
    # one copy (or more: a broadcast also comes back over the veth pair) from every interface that is up
    assert set(seen["sources"]) == {"127.0.0.1", "10.231.0.1", "10.231.0.2"}
    assert set(seen["copies_per_responder"]) == {True}
    # two receivers on one port, plus an emulated device that answers the loopback copy
    assert sorted(seen["found"]) == ["RESP0001", "RESP0002", seen["emulated"]]
