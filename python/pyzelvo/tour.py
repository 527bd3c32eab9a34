"""A tour of the driver against the built-in emulator: ``python -m pyzelvo tour``.

Starts emulated Tavra-A, Koru, Kinora and Aeris-R3-A devices on this machine (and a Pellor-K1-CD
and a Pellor-K1-AD on its USB for the serial buses), finds them by a
discovery broadcast on the loopback network (nothing leaves this machine), re-addresses one and
rings another by MAC address, connects to each with the same calls a script uses for real
hardware, reads and sets their system information, repeats the reads as asyncio awaitables on all
four devices at once, streams analog input into a CSV file, homes and moves motion axes
(tour_motion.py), and closes everything. Then it generates waveforms on a Pellor-K1-AOD's analog
outputs and reads them back through its analog inputs, reads a Tavra-T thermocouple and the
orientation of a turning Aeris-R3-AH.
"""

from __future__ import annotations

import argparse
import asyncio
import math
import os
import time
from pathlib import Path

import pyzelvo
from pyzelvo import find, sim
from pyzelvo.tour_motion import motion_tour
from pyzelvo.tour_buses import tour_buses

# Emulated Ethernet devices listen on free ports of 127.0.0.1; the Wi-Fi device gets its own
# loopback address with the Wi-Fi default ports (7 and 1336) when this machine allows binding
# them, so that connect(ip) works exactly as on a real network.
ETHERNET_MODELS = ("TavraA", "Koru", "Kinora")
WIFI_MODEL = "AerisR3A"
WIFI_HOST = "127.0.0.7"


def heading(text: str) -> None:
    print(f"\n== {text} ==")


def start_emulators(emu: sim.Emulator) -> dict[str, sim.EmulatedDevice]:
    emulated = {name: emu.add(name) for name in ETHERNET_MODELS}
    try:
        emulated[WIFI_MODEL] = emu.add(WIFI_MODEL, host=WIFI_HOST, wifi_pair=True)
    except OSError as e:
        print(f"(ports 7/1336 not available here: {e}; the Wi-Fi device uses free ports instead)")
        emulated[WIFI_MODEL] = emu.add(WIFI_MODEL, host=WIFI_HOST)
    for e in emulated.values():
        print(sim._sim.describe(e))
    return emulated


def discover(emu: sim.Emulator, emulated: dict[str, sim.EmulatedDevice]) -> None:
    """The emulated devices answer a broadcast on the loopback network, as devices on a real network
    answer one from the finder (python -m pyzelvo find)."""
    finder = find.open_finder(target=find.LOOPBACK_TARGET, sources=[find.LOOPBACK_SOURCE], bind=find.LOOPBACK_SOURCE,
                              port=emu.discovery_port, answer_port=emu.answer_port)
    try:
        found = find.with_progress(lambda: find.network_devices(finder), finder._collect_seconds)
        print(find.table(found, find.TABLE_COLUMNS))
        # They all left the factory with the same address; give the Koru one of its own, by MAC,
        # and ring the Kinora, both at once with the awaitable forms.
        koru, kinora = emulated["Koru"].network.mac, emulated["Kinora"].network.mac

        async def field_tasks():
            return await asyncio.gather(
                finder.Bcst_checkMACAndSetIP_async("192.168.1.120", koru, "192.168.1.1", "255.255.255.0"),
                finder.Bcst_checkMACAndRing_async(kinora),
            )

        status, _ = find.with_progress(lambda: asyncio.run(field_tasks()), finder._collect_seconds)
        print(f"Koru ({koru}) set to 192.168.1.120 -> {status}; it now reports {emulated['Koru'].network.ip}")
        print(f"Kinora ({kinora}) rang {emulated['Kinora'].network.rings} times (once per copy of the request)")
    finally:
        find.close_quietly(finder)


def connect_all(emulated: dict[str, sim.EmulatedDevice]) -> dict[str, pyzelvo.Device]:
    devices: dict[str, pyzelvo.Device] = {}
    for name, e in emulated.items():
        dev = getattr(pyzelvo, name)()
        if name == WIFI_MODEL:
            if (e.port, e.data_port) == sim.WIFI_PAIR_PORTS:
                dev.connect(e.host)  # the Wi-Fi default ports, as on a real network
            else:
                dev.connect(e.host, e.port, e.data_port)
        else:
            dev.connect(e.host, e.port)
        devices[name] = dev
    return devices


def show(dev: pyzelvo.Device) -> None:
    model, mode, version = (dev.Sys_getDriverInfo() + ["", "", ""])[:3]
    print(f"{dev._getDeviceName():12} driver {model} / {mode} / {version}")
    print(f"{'':12} serial {dev.Sys_getSerialNumber()}, alias {dev.Sys_getDeviceAlias()!r}, clock {dev.Sys_getRTC()}")
    modes = dev.Sys_getPinModeInPort(1)[: dev.num_of_pins]
    counts = ", ".join(f"{modes.count(m)} {m}" for m in dict.fromkeys(modes))
    print(f"{'':12} pin modes of port 1: {counts}")


def set_and_read(dev: pyzelvo.Device) -> None:
    alias = f"tour-{dev._getDeviceName()}"
    status_alias = dev.Sys_setDeviceAlias(alias)
    status_clock = dev.Sys_setRTC(2025, 1, 2, 3, 4, 5)
    print(
        f"{dev._getDeviceName():12} set alias -> {status_alias}, set clock -> {status_clock}; "
        f"now alias {dev.Sys_getDeviceAlias()!r}, clock {dev.Sys_getRTC()}"
    )


# The analog-input part: 2 s of 8 channels at 20 kHz, N-samples mode, into a CSV file.
AI_PORT = 0
AI_RATE = 20000
AI_SECONDS = 2
N_SAMPLES_MODE = 1
OUTPUT_DIR = Path("tour-output")


def stream_to_csv(dev: pyzelvo.TavraA, emulated: sim.EmulatedDevice, more: list[Panel] | None = None) -> None:
    total = AI_RATE * AI_SECONDS
    channels = dev.ai_num_channels
    for ch in range(channels):  # each input sees its own sine: (ch + 1) V at 5 (ch + 1) Hz
        emulated.ai_set_waveform(ch, "sine", amplitude=ch + 1.0, frequency=5.0 * (ch + 1))
    OUTPUT_DIR.mkdir(exist_ok=True)
    csv_path = OUTPUT_DIR / "tavra_a_ai.csv"
    dev.Logger_openFile(str(csv_path))
    dev.Logger_writeHeader([f"AI{ch} (V)" for ch in range(channels)])
    dev.AI_open(AI_PORT)
    dev.AI_setMode(AI_PORT, N_SAMPLES_MODE)
    dev.AI_setNumSamples(AI_PORT, total)
    dev.AI_setSamplingRate(AI_PORT, AI_RATE)
    dev.AI_openStreaming(AI_PORT)
    start = time.perf_counter()
    dev.AI_startStreaming(AI_PORT)
    rows: list[list[float]] = []
    while len(rows) < total and time.perf_counter() - start < AI_SECONDS + 5:
        batch = dev.AI_readStreaming(AI_PORT, total - len(rows), 0.05)
        dev.Logger_write2DList(batch)  # queued; the logger's thread writes the file
        rows += batch
    elapsed = time.perf_counter() - start
    dev.AI_closeStreaming(AI_PORT)
    dev.AI_close(AI_PORT)
    dev._Logger_close()
    peaks = [round(max(abs(r[ch]) for r in rows), 2) for ch in range(channels)] if rows else []
    print(f"{len(rows)} samples x {channels} channels in {elapsed:.2f} s "
          f"({dev.AI_getDroppedSamples(AI_PORT)} dropped); peak volts per channel {peaks}")
    tavra = Panel(f"Emulated Tavra-A, {AI_RATE // 1000} kHz streaming", AI_RATE, rows, [f"AI{ch}" for ch in range(4)])
    plot = plot_channels([tavra] + (more or []), OUTPUT_DIR / "tavra_a_ai.png")
    print(f"Files: {csv_path.resolve()}" + (f", plot {plot.resolve()}" if plot else " (install matplotlib for a plot)"))


class Panel:
    """One plot of streamed channels: a title, the sampling rate, the rows, a label per channel."""

    def __init__(self, title: str, rate: float, rows: list[list[float]], labels: list[str]) -> None:
        self.title, self.rate, self.rows, self.labels = title, rate, rows, labels


def plot_channels(panels: list[Panel], path: Path) -> Path | None:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return None
    fig, axes = plt.subplots(len(panels), 1, figsize=(9, 4 * len(panels)), squeeze=False)
    for ax, panel in zip(axes[:, 0], panels):
        t = [i / panel.rate for i in range(len(panel.rows))]
        for ch, label in enumerate(panel.labels):
            ax.plot(t, [r[ch] for r in panel.rows], label=label, linewidth=0.8)
        ax.set_xlabel("time (s)")
        ax.set_ylabel("volts")
        ax.set_title(panel.title)
        ax.legend(loc="upper right")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return path


async def read_concurrently(devices: dict[str, pyzelvo.Device]) -> None:
    async def one(dev: pyzelvo.Device) -> str:
        serial, alias, clock = await asyncio.gather(
            dev.Sys_getSerialNumber_async(), dev.Sys_getDeviceAlias_async(), dev.Sys_getRTC_async()
        )
        return f"{dev._getDeviceName():12} serial {serial}, alias {alias!r}, clock {clock}"

    start = time.perf_counter()
    lines = await asyncio.gather(*(one(d) for d in devices.values()))
    elapsed = (time.perf_counter() - start) * 1000
    for line in lines:
        print(line)
    print(f"{len(devices) * 3} awaitable calls on {len(devices)} devices in {elapsed:.1f} ms")


# The analog-output part: a sine and a triangle generated on a Pellor-K1-AOD's outputs, which the
# emulator wires to its analog inputs, read back as a stream.
AO_PORT = 0
AO_RATE = 16000          # generation rate, Hz
AO_AI_RATE = 2000        # the inputs' rate with eight channels enabled, Hz
AO_AI_SECONDS = 0.5
CONTINUOUS = 2
SINE, TRIANGLE = 3, 2
AO_WAVES = [(SINE, 2.0, 2.5, 50.0), (TRIANGLE, 1.0, 2.0, 20.0)]  # form, amplitude V, offset V, Hz


def frequency_of(values: list[float], rate: float) -> float:
    """Frequency from the upward crossings of the mean, first to last."""
    mean = sum(values) / len(values)
    ups = [i for i in range(1, len(values)) if values[i - 1] < mean <= values[i]]
    return (len(ups) - 1) * rate / (ups[-1] - ups[0]) if len(ups) > 1 else 0.0


def analog_out_round_trip(emu: sim.Emulator) -> Panel:
    # The driver reaches emulated USB devices through the emulator's USB shim.
    os.environ["ZELVO_LIBUSB"] = sim.usb_library_path()
    target = emu.add("PellorK1AOD", usb=True)
    target.ao.wired_to_ai = True  # output channel i drives input channel i
    dev = pyzelvo.PellorK1AOD()
    dev.connect(target.serial_number)
    try:
        dev.AO_openStreaming(AO_PORT)
        dev.AO_setMode(AO_PORT, CONTINUOUS)
        dev.AO_setSamplingRate(AO_PORT, AO_RATE)
        dev.AO_setEnableChannels(AO_PORT, list(range(len(AO_WAVES))))
        for ch, (form, amplitude, offset, hz) in enumerate(AO_WAVES):
            dev.AO_setForm(AO_PORT, ch, form)
            dev.AO_setFormParam(AO_PORT, ch, amplitude, offset, hz)
        dev.AO_startStreaming(AO_PORT)
        print(f"generator state {dev._AO_getState(AO_PORT)} (2 = running), outputs now "
              f"{[round(v, 3) for v in dev.AO_getValues(AO_PORT)[:len(AO_WAVES)]]} V")
        dev.AI_open(AO_PORT)
        dev.AI_setMode(AO_PORT, CONTINUOUS)
        dev.AI_setSamplingRate(AO_PORT, AO_AI_RATE)
        dev.AI_startStreaming(AO_PORT)
        wanted = int(AO_AI_RATE * AO_AI_SECONDS)
        rows: list[list[float]] = []
        while len(rows) < wanted:
            batch = dev.AI_readStreaming(AO_PORT, wanted - len(rows), 1.0)
            if not batch:
                break
            rows += batch
        dev.AI_closeStreaming(AO_PORT)
        dev._AO_stopStreaming(AO_PORT)
        dev.AO_closeStreaming(AO_PORT)
        interrupts, writes = dev._AO_getCounters(AO_PORT)
        print(f"{interrupts} samples generated ({writes} converter writes); {len(rows)} read back at {AO_AI_RATE} Hz:")
        for ch, (form, amplitude, offset, hz) in enumerate(AO_WAVES):
            values = [r[ch] for r in rows]
            name = "sine" if form == SINE else "triangle"
            print(f"  AO{ch} {name:8} written {hz:g} Hz, {amplitude:g} V around {offset:g} V; read "
                  f"{frequency_of(values, AO_AI_RATE):.1f} Hz, {(max(values) - min(values)) / 2:.3f} V around "
                  f"{sum(values) / len(values):.3f} V")
    finally:
        dev.close()
    labels = [f"AO{ch} {'sine' if form == SINE else 'triangle'} -> AI{ch}" for ch, (form, *_) in enumerate(AO_WAVES)]
    return Panel("Emulated Pellor-K1-AOD: analog outputs read back through its analog inputs", AO_AI_RATE, rows, labels)


# A Tavra-T thermocouple channel, warming slowly, with a little noise.
TC_PORT, TC_CHANNEL, TYPE_K = 1, 0, 3


def read_thermocouple(emu: sim.Emulator) -> None:
    target = emu.add("TavraT")
    target.thermal.set_temperature(TC_PORT, TC_CHANNEL, 21.5, drift=0.5, noise=0.02)
    dev = pyzelvo.TavraT()
    dev.connect(target.host, target.port)
    try:
        dev.Thermal_open(TC_PORT)
        dev.Thermal_setType(TC_PORT, TC_CHANNEL, TYPE_K)
        for _ in range(3):
            print(f"channel {TC_CHANNEL}: {dev.Thermal_readSensor(TC_PORT, TC_CHANNEL):.3f} degC (type K), cold junction "
                  f"{dev._Thermal_readJunction(TC_PORT, TC_CHANNEL):.2f} degC, status {dev.Thermal_getStatus(TC_PORT, TC_CHANNEL)}")
            time.sleep(0.2)
        dev.Thermal_close(TC_PORT)
    finally:
        dev.close()


# An Aeris-R3-AH turning about its vertical axis at 45 degrees per second.
AHRS_PORT = 0
AHRS_HOST = "127.0.0.8"
YAW_RATE = math.radians(45)


def watch_orientation(emu: sim.Emulator) -> None:
    target = emu.add("AerisR3AH", host=AHRS_HOST)
    dev = pyzelvo.AerisR3AH()
    dev.connect(target.host, target.port, target.data_port)
    try:
        dev.AHRS_open(AHRS_PORT)
        dev.AHRS_start(AHRS_PORT)
        target.ahrs.set_angular_rate(0.0, 0.0, YAW_RATE)
        for _ in range(5):
            time.sleep(0.2)
            roll, pitch, yaw = dev.AHRS_getOrientation(AHRS_PORT)
            print(f"roll {roll:7.2f}, pitch {pitch:7.2f}, yaw {yaw:7.2f} degrees; "
                  f"acceleration {dev.AHRS_getAcceleration(AHRS_PORT)}")
        dev.AHRS_stop(AHRS_PORT)
        dev.AHRS_close(AHRS_PORT)
    finally:
        dev.close()


def main(argv: list[str] | None = None) -> int:
    """``pyzelvo tour``: runs the tour; 0 when every step went through."""
    argparse.ArgumentParser(
        prog="pyzelvo tour",
        description="Start emulated devices on this machine and show, step by step, what the driver does with "
                    "them: discovery on the loopback network, connecting, system information, awaitables on "
                    "several devices at once, analog input and output streamed to CSV and plotted (with "
                    "matplotlib), thermocouples, an attitude sensor. Nothing leaves this machine.",
    ).parse_args([] if argv is None else argv)
    print(f"{pyzelvo.PKG_FULL_NAME} {pyzelvo.__version__}: a tour against the built-in emulator")
    os.environ["ZELVO_BROADCAST_LOOPBACK_ONLY"] = "1"  # the tour's discovery never leaves this machine
    discovery_port, answer_port = sim.free_udp_ports(2)
    with sim.Emulator(discovery_port=discovery_port, answer_port=answer_port) as emu:
        heading("Emulated devices")
        emulated = start_emulators(emu)

        heading("Discovery on the loopback network")
        discover(emu, emulated)

        heading("Connect")
        devices = connect_all(emulated)
        try:
            heading("System information")
            for dev in devices.values():
                show(dev)

            heading("Set and read back alias and clock")
            for dev in devices.values():
                set_and_read(dev)

            koru = devices["Koru"]
            heading("Koru slots")
            print(f"slot 4 before: {koru.Sys_getMode(4)}; set DI -> {koru.Sys_setDIMode(4)}; after: {koru.Sys_getMode(4)}")

            heading("The same reads as asyncio awaitables, all devices at once")
            asyncio.run(read_concurrently(devices))

            heading("Analog output: a sine and a triangle read back through the analog inputs (Pellor-K1-AOD)")
            round_trip = analog_out_round_trip(emu)

            heading("A thermocouple channel (Tavra-T)")
            read_thermocouple(emu)

            heading("The orientation of a turning Aeris-R3-AH")
            watch_orientation(emu)

            heading(f"Analog input: {AI_SECONDS} s of 8 channels at {AI_RATE // 1000} kHz into a CSV file")
            stream_to_csv(devices["TavraA"], emulated["TavraA"], [round_trip])

            heading("Motion: home and move two Kinora axes, an INI file, a plot; a TorvaneST stepper")
            motion_tour(devices["Kinora"], emulated["Kinora"], emu, OUTPUT_DIR)

            heading("Serial buses on USB: I2C, SPI, UART and CAN")
            tour_buses(emu)
        finally:
            heading("Close")
            for dev in devices.values():
                dev.close()
    print("\nDone.")
    return 0
