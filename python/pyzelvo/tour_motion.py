"""The motion part of the tour: two axes of an emulated Kinora homed and moved (a relative move, a
continuous move reversed by a velocity override, a two-axis linear interpolation), their
configuration saved to an INI file and loaded back, a PNG of position against time; then a
position move and a home search on an emulated TorvaneST."""

from __future__ import annotations

import time
from pathlib import Path

import pyzelvo
from pyzelvo import sim

PORT = 0
AXES = (0, 1)
STOPPED = 1
RELATIVE, CONTINUOUS = 1, 2
SPEED, RATE = 20_000, 200_000  # pulses per second, pulses per second squared
SAMPLE_S = 0.005
LIMIT_S = 10.0


class Trace:
    """Logical positions of the two axes against time, sampled while the tour waits."""

    def __init__(self, dev: pyzelvo.Kinora) -> None:
        self.dev, self.start, self.rows = dev, time.perf_counter(), []

    def sample(self) -> None:
        self.rows.append((time.perf_counter() - self.start, *(self.dev.Motion_getLogicalPosi(PORT, a) for a in AXES)))

    def until(self, done) -> None:
        end = time.perf_counter() + LIMIT_S
        while not done() and time.perf_counter() < end:
            self.sample()
            time.sleep(SAMPLE_S)
        self.sample()

    def for_seconds(self, seconds: float) -> None:
        end = time.perf_counter() + seconds
        self.until(lambda: time.perf_counter() >= end)

    def positions(self) -> list[int]:
        return [self.dev.Motion_getLogicalPosi(PORT, a) for a in AXES]


def all_stopped(dev: pyzelvo.Kinora):
    return lambda: all(dev.Motion_getMoveStatus(PORT, a) == STOPPED for a in AXES)


def home_two_axes(dev: pyzelvo.Kinora, emulated: sim.EmulatedDevice, trace: Trace) -> None:
    for axis, (first, last) in zip(AXES, ((-3000, -2800), (-1500, -1300))):
        emulated.motion.place_switch(axis, "home", first, last)
        emulated.motion.place_switch(axis, "z", 0, period=400)
        dev.Motion_cfgHome(PORT, axis, 1, 1)
        dev.Motion_cfgEncoder(PORT, axis, 0)
        # Home backward, approach at 10 %, then the next index pulse, 500 on, counters reset.
        dev.Motion_cfgFindRef(PORT, axis, 0, 1, SPEED, RATE, 10.0, 1, 500)
        dev.Motion_findRef(PORT, axis)
    trace.until(lambda: all(dev.Motion_checkRef(PORT, a) == 1 for a in AXES))
    print(f"homed axes 0 and 1: positions {trace.positions()}")


def move_two_axes(dev: pyzelvo.Kinora, trace: Trace) -> None:
    dev.Motion_cfgAxisMove(PORT, 0, RELATIVE, 5000, SPEED, RATE, RATE)
    dev.Motion_startSingleAxisMove(PORT, 0)
    trace.until(all_stopped(dev))
    print(f"relative move of axis 0 by 5000: positions {trace.positions()}")
    dev.Motion_cfgAxisMove(PORT, 1, CONTINUOUS, 0, SPEED // 2, RATE, RATE)
    dev.Motion_startSingleAxisMove(PORT, 1)
    trace.for_seconds(0.5)
    dev.Motion_overrideAxisVelocity(PORT, 1, -SPEED)
    trace.for_seconds(0.7)
    dev.Motion_stop(PORT, 1, 0)
    trace.until(all_stopped(dev))
    print(f"continuous move of axis 1, reversed by a velocity override: positions {trace.positions()}")
    dev.Motion_cfg2AxisLinearInterpo(PORT, 1, 3000, 0, -4000, SPEED, RATE, RATE)
    dev.Motion_startLinearInterpo(PORT)
    trace.until(lambda: dev._Motion_writeRR0(PORT) == 0)
    print(f"linear interpolation by (-4000, +3000): positions {trace.positions()}")


def save_and_load(dev: pyzelvo.Kinora, path: Path) -> None:
    path.write_text("")  # Motion_openCfgFile opens an existing file
    dev.Motion_openCfgFile(str(path))
    dev.Motion_saveCfgFile()
    saved = dev.axis_1.motion_dict["Offset Position"]
    dev.axis_1.motion_dict["Offset Position"] = 0
    dev.Motion_loadCfgFile()
    print(f"saved the axis configuration and loaded it back: axis 1 offset {dev.axis_1.motion_dict['Offset Position']} "
          f"(saved {saved})")


def plot_trace(trace: Trace, path: Path) -> Path | None:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return None
    fig, ax = plt.subplots(figsize=(9, 4))
    for i, axis in enumerate(AXES):
        ax.plot([r[0] for r in trace.rows], [r[1 + i] for r in trace.rows], label=f"axis {axis}")
    ax.set_xlabel("time (s)")
    ax.set_ylabel("logical position (pulses)")
    ax.set_title("Emulated Kinora: home, relative, continuous with override, linear interpolation")
    ax.legend(loc="upper right")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return path


def stepper(emu: sim.Emulator) -> None:
    target = emu.add("TorvaneST")
    dev = pyzelvo.TorvaneST()
    dev.connect(target.host, target.port)
    try:
        dev.Motion_startPositionMove(PORT, 12_800, 50_000, RATE * 10, RATE * 10, 0)
        wait_procedure(dev)
        print(f"TorvaneST position move to 12800: [encoder, position] {dev.Motion_readEncoderPosition(PORT)}")
        target.stepper.place_switch("home", 3000, 3200)
        # Search backward at 20000/s, approach forward at 2000/s, then 100 on, counters reset.
        dev.Motion_startFindHome(PORT, SPEED, SPEED // 10, RATE * 10, 1, 0, 100, "true")
        wait_procedure(dev)
        print(f"TorvaneST home search: state {dev.Motion_getProcessState(PORT)}, "
              f"[encoder, position] {dev.Motion_readEncoderPosition(PORT)}")
    finally:
        dev.close()


def wait_procedure(dev: pyzelvo.TorvaneST) -> None:
    finished = 2
    end = time.perf_counter() + LIMIT_S
    while dev.Motion_getProcessState(PORT) != finished and time.perf_counter() < end:
        time.sleep(SAMPLE_S)


def motion_tour(dev: pyzelvo.Kinora, emulated: sim.EmulatedDevice, emu: sim.Emulator, out_dir: Path) -> None:
    dev.Motion_open(PORT)
    trace = Trace(dev)
    home_two_axes(dev, emulated, trace)
    move_two_axes(dev, trace)
    out_dir.mkdir(exist_ok=True)
    ini = out_dir / "kinora_axes.ini"
    save_and_load(dev, ini)
    plot = plot_trace(trace, out_dir / "kinora_positions.png")
    stepper(emu)
    print(f"Files: {ini.resolve()}" + (f", plot {plot.resolve()}" if plot else " (install matplotlib for a plot)"))
