"""A block of streamed analog-input samples with its time base (AI_readStreamingBlock)."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any


@dataclass(frozen=True)
class StreamBlock:
    """Consecutive rows of one stream.

    ``data`` holds the rows (numpy, rows x channels, float64); ``first_index`` is the index of its
    first row in the stream since ``AI_startStreaming`` (dropped samples are counted, so a drop shows
    as a jump from one block's end to the next block's ``first_index``); ``rate`` is the sampling
    rate set for the port (0 when none was set); ``t0`` is ``time.monotonic()`` when the stream was
    started (0 when it was not started from this object).
    """

    data: Any
    first_index: int
    rate: float
    t0: float

    def times(self) -> Any:
        """Host monotonic time of each row: t0 + (first_index + k) / rate."""
        import numpy

        if not self.rate:
            raise ValueError("no sampling rate was set for the port")
        return self.t0 + (self.first_index + numpy.arange(len(self.data))) / self.rate

    def __repr__(self) -> str:
        shape = "x".join(str(n) for n in getattr(self.data, "shape", ()))
        return f"StreamBlock({shape} rows from #{self.first_index}, {self.rate:g} Hz, t0={self.t0:.3f})"
