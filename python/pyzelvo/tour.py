"""A tour of the driver against the built-in emulator: ``python -m pyzelvo tour``.

Starts emulated Tavra-A, Koru, Kinora and Aeris-R3-A devices on this machine (and a Pellor-K1-CD and
a Pellor-K1-AD on its USB for the serial buses), connects to each
with the same calls a script uses for real hardware, reads and sets their system information,
repeats the reads as asyncio awaitables on all four devices at once, and closes everything.
"""

from __future__ import annotations

import asyncio
import time
from pathlib import Path

import pyzelvo
from pyzelvo import sim
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


def stream_to_csv(dev: pyzelvo.TavraA, emulated: sim.EmulatedDevice) -> None:
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
    plot = plot_channels(rows, OUTPUT_DIR / "tavra_a_ai.png")
    print(f"Files: {csv_path.resolve()}" + (f", plot {plot.resolve()}" if plot else " (install matplotlib for a plot)"))


def plot_channels(rows: list[list[float]], path: Path) -> Path | None:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return None
    t = [i / AI_RATE for i in range(len(rows))]
    fig, ax = plt.subplots(figsize=(9, 4))
    for ch in range(4):
        ax.plot(t, [r[ch] for r in rows], label=f"AI{ch}", linewidth=0.8)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("volts")
    ax.set_title(f"Emulated Tavra-A, {AI_RATE // 1000} kHz streaming")
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


def main(argv: list[str] | None = None) -> int:
    print(f"{pyzelvo.PKG_FULL_NAME} {pyzelvo.__version__}: a tour against the built-in emulator")
    with sim.Emulator() as emu:
        heading("Emulated devices")
        emulated = start_emulators(emu)

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

            heading(f"Analog input: {AI_SECONDS} s of 8 channels at {AI_RATE // 1000} kHz into a CSV file")
            stream_to_csv(devices["TavraA"], emulated["TavraA"])

            heading("Serial buses on USB: I2C, SPI, UART and CAN")
            tour_buses(emu)
        finally:
            heading("Close")
            for dev in devices.values():
                dev.close()
    print("\nDone.")
    return 0
