"""Shared bits of the benchmarks: percentiles and a one-line report format."""

from __future__ import annotations

import statistics


def percentile(values: list[float], p: float) -> float:
    ordered = sorted(values)
    k = min(len(ordered) - 1, max(0, round(p / 100 * (len(ordered) - 1))))
    return ordered[k]


def summary_us(samples_s: list[float]) -> tuple[float, float]:
    """Median and 99th percentile in microseconds."""
    us = [s * 1e6 for s in samples_s]
    return statistics.median(us), percentile(us, 99)
