"""A device that floods the driver: stream packets for an analog input nobody opened (a device left
streaming by an earlier program) and replies nobody asked for, under ever new motion keys. The
driver's resident memory must stay within the per-device budget however long it goes on.

    python bench/flood.py [--seconds 30]

The emulated device runs in a process of its own, so the memory measured is the driver's alone.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import time

import pyzelvo

START_AI_STREAMING, MOTION = 183, 208
PACKET = bytes([0, 0]) + bytes(16 * 1024)  # port 0, chip select 0, 16 KiB of samples
REPLY = bytes(64)
BUDGET_MIB = 64  # what a device may make the driver hold (README, "Memory")


def rss_mib() -> float:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def serve(seconds: float) -> None:
    """The flooding device: prints "HOST PORT", waits for a line, floods, prints what it sent."""
    from pyzelvo import sim

    with sim.Emulator() as emu:
        dev = emu.add("TavraA")
        print(dev.host, dev.port, flush=True)
        sys.stdin.readline()
        end = time.monotonic() + seconds
        streamed = replies = 0
        while time.monotonic() < end:
            dev.send_stream(START_AI_STREAMING, PACKET, count=64)
            dev.send_reply(MOTION, REPLY, count=1024, distinct_keys=True)
            streamed += 64 * len(PACKET)
            replies += 1024
            time.sleep(0.01)
        print(streamed, replies, flush=True)
        sys.stdin.readline()


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--serve", action="store_true", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.serve:
        serve(args.seconds)
        return
    device = subprocess.Popen([sys.executable, __file__, "--serve", "--seconds", str(args.seconds)],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    host, port = device.stdout.readline().split()
    dev = pyzelvo.TavraA(verbose=False)
    dev.connect(host, int(port), verbose=False)
    assert dev.Sys_getSerialNumber()
    base = rss_mib()
    device.stdin.write("go\n")
    device.stdin.flush()
    peak = base
    start = time.monotonic()
    samples = []
    while time.monotonic() - start < args.seconds + 1:
        time.sleep(0.5)
        now = rss_mib()
        peak = max(peak, now)
        samples.append(now - base)
    streamed, replies = (int(v) for v in device.stdout.readline().split())
    stats = dev._exchange_stats
    kept = len(dev.data_pool_echo)
    answered = dev.Sys_getSerialNumber()  # the device still answers after all that
    dev.close(verbose=False)
    device.stdin.write("done\n")
    device.stdin.flush()
    device.wait()
    mib = 1 << 20
    last10 = samples[-1] - samples[max(0, len(samples) - 21)]
    print(f"flood for {args.seconds:.0f} s: {streamed / mib:,.0f} MiB of stream packets for a closed analog input, "
          f"{replies:,} unsolicited motion replies")
    print(f"driver RSS: {base:.1f} MiB before, peak {peak:.1f} MiB (+{peak - base:.1f} MiB; budget {BUDGET_MIB} MiB), "
          f"change over the last 10 s {last10:+.1f} MiB")
    print(f"held: {stats['raw_stream_bytes'] / mib:.1f} MiB of raw stream packets "
          f"(bound {stats['raw_stream_byte_limit'] / mib:.0f} MiB); {kept} unsolicited replies kept, "
          f"{stats['unsolicited_dropped']:,} dropped")
    print(f"serial number read after the flood: {answered}; "
          f"{'within' if peak - base <= BUDGET_MIB else 'OVER'} budget")


if __name__ == "__main__":
    main()
