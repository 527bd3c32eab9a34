"""Shared fixtures: an emulator per test, connected products, a scripted device; no test ever
broadcasts on a real network."""

from __future__ import annotations

import asyncio

import pytest

import pyzelvo
from pyzelvo import sim
from support.helpers import connect
from support.scripted_device import ScriptedDevice


LOOPBACK_ONLY = "ZELVO_BROADCAST_LOOPBACK_ONLY"


@pytest.fixture(scope="session", autouse=True)
def loopback_only_discovery():
    """Discovery stays on this machine for the whole session, subprocesses included: the driver
    refuses (and counts) any discovery request from or to an address outside 127.0.0.0/8, and
    emulated devices answer discovery on free ports instead of the protocol's. Only a test that
    runs inside a private network namespace of its own lifts the refusal there."""
    with pytest.MonkeyPatch.context() as mp:
        mp.setenv(LOOPBACK_ONLY, "1")
        mp.setattr(sim, "DISCOVERY_PORTS", sim.free_udp_ports(2))
        yield


@pytest.fixture(autouse=True)
def no_refused_discovery(loopback_only_discovery):
    """Fails a test during which the driver refused to send discovery from or to a real interface,
    even when the test swallowed the error."""
    before = pyzelvo._core._broadcast_refusals()
    yield
    refused = pyzelvo._core._broadcast_refusals() - before
    if refused:
        pytest.fail(f"{refused} discovery request(s) would have left from or for a non-loopback address")


@pytest.fixture
def emu():
    with sim.Emulator() as e:
        yield e


@pytest.fixture
def closing():
    """A list whose products are closed after the test."""
    products = []
    yield products
    for product in products:
        product.close()


@pytest.fixture
def attach(emu, closing):
    """attach("TavraA") -> (connected product, its emulated device); closed after the test."""

    def make(class_name: str):
        target = emu.add(class_name)
        product = connect(getattr(pyzelvo, class_name)(), target)
        closing.append(product)
        return product, target

    return make


@pytest.fixture
def bus(monkeypatch):
    """An emulator whose USB devices this process's driver sees (and no real one)."""
    monkeypatch.setenv("ZELVO_LIBUSB", sim.usb_library_path())
    with sim.Emulator() as e:
        yield e


@pytest.fixture
def usb_attach(bus, closing):
    """usb_attach("PellorK1D") -> (product connected by serial number over USB, its emulated
    device); closed after the test."""

    def make(class_name="PellorK1D", serial=None):
        target = bus.add(class_name, usb=True, serial=serial)
        dev = getattr(pyzelvo, class_name)()
        dev.connect(target.serial_number)
        closing.append(dev)
        return dev, target

    return make


@pytest.fixture
def tavra(attach):
    return attach("TavraA")


@pytest.fixture
def two_ports(attach):
    """A Tavra-D whose ports 0 and 1 report different pin modes under the same command code:
    (product, emulated device, {port: the port's answer}). Replies come in two pieces, so
    concurrent requests overlap more."""
    dev, target = attach("TavraD")
    target.set_pin_mode(0, 0, 3)
    target.set_pin_mode(1, 1, 2)
    expected = {port: dev.Sys_getPinModeInPort(port) for port in (0, 1)}
    assert expected[0] != expected[1]
    target.split_replies(2)
    return dev, target, expected


@pytest.fixture
def scripted():
    """scripted("TavraA", {code: reply}) -> (connected product, the ScriptedDevice)."""
    made = []

    def make(class_name: str, replies: dict):
        target = ScriptedDevice(replies)
        product = connect(getattr(pyzelvo, class_name)(), target)
        made.append((product, target))
        return product, target

    yield make
    for product, target in made:
        product.close()
        target.close()


@pytest.fixture(params=["blocking", "awaitable"])
def call(request):
    """call(dev, "Sys_getRTC", *args): runs an operation through either family."""
    if request.param == "blocking":
        return lambda dev, name, *args: getattr(dev, name)(*args)
    return lambda dev, name, *args: asyncio.run(_await(getattr(dev, name + "_async")(*args)))


async def _await(op):
    return await op
