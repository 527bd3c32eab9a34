"""Shared fixtures: an emulator per test, connected products, a scripted device."""

from __future__ import annotations

import asyncio

import pytest

import pyzelvo
from pyzelvo import sim
from support.helpers import connect
from support.scripted_device import ScriptedDevice


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
