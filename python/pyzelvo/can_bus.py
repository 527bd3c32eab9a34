"""python-can interface for the CAN port of a Zelvo device (python-can is optional).

Installed with pyzelvo, the entry point ``zelvo`` of the group ``can.interface`` makes::

    import can
    with can.Bus(interface="zelvo", channel="default", bitrate=500000) as bus:
        bus.send(can.Message(arbitration_id=0x123, data=[1, 2, 3], is_extended_id=False))
        print(bus.recv(timeout=1.0))

work on a device with a CAN port (``channel``: its serial number, or "default" for the first one
found). ``device=`` hands over a product object that is already connected instead; the bus then
leaves it connected at shutdown. Received frames carry the time they arrived at the host.

Filters go to the device's receive filters and masks when they fit them (at most six filters of
one frame format each, using at most two masks: filters 0 and 1 share mask 0, filters 2..5 mask 1);
python-can checks every frame against the filters as well, so a set that does not fit the device
still filters correctly, on the host.
"""

from __future__ import annotations

from typing import Any

import can

from . import _core

BITRATES = {125_000: 0, 250_000: 1, 500_000: 2, 1_000_000: 3}  # bit/s -> CAN_setSpeed mode
DATA_BYTES = 8
FILTERS = 6                                 # receive filters 0..5
MASK_INDEX = (6, 7)                         # CAN_setRXFilterOrMask indices of masks 0 and 1
FILTERS_OF_MASK = ((0, 1), (2, 3, 4, 5))    # the filters each mask serves
STANDARD_ID_BITS, EXTENDED_ID_BITS = 0x7FF, 0x1FFFFFFF
DEFAULT_PRODUCT = "PellorK1CD"


def frame_to_message(frame: Any, timestamp: float = 0.0, channel: Any = None) -> can.Message:
    """A ``can.Message`` from a ``CANFrame`` (a remote frame carries no data)."""
    data = [] if frame.remote else list(frame.data)
    return can.Message(timestamp=timestamp, arbitration_id=frame.id, is_extended_id=bool(frame.extended_id),
                       is_remote_frame=bool(frame.remote), dlc=0 if frame.remote else DATA_BYTES, data=data,
                       channel=channel, is_rx=True)


def message_to_frame(msg: can.Message) -> Any:
    """A ``CANFrame`` from a ``can.Message`` (its data zero-padded to eight bytes)."""
    return _core.CANFrame(msg.arbitration_id, bool(msg.is_extended_id), bool(msg.is_remote_frame),
                          [] if msg.is_remote_frame else list(msg.data))


def _device_filters(filters: list[dict] | None) -> list[tuple[int, int, bool]] | None:
    """[(id, mask, extended), ...] laid out over filters 0..5 when the set fits the device's filters
    and masks, else None (then the device passes everything and the host filters)."""
    if not filters or len(filters) > FILTERS or any("extended" not in f for f in filters):
        return None
    masks: list[int] = []
    for f in filters:
        if f["can_mask"] not in masks:
            masks.append(f["can_mask"])
    if len(masks) > len(FILTERS_OF_MASK):
        return None
    if any(not f["extended"] and f["can_id"] & f["can_mask"] > STANDARD_ID_BITS for f in filters):
        return None  # no standard frame can match it: the host filter drops everything
    groups = [[f for f in filters if f["can_mask"] == m] for m in masks]
    if len(groups) == 1:
        groups.append(groups[0])  # the second mask repeats the first
        masks.append(masks[0])
    if any(len(g) > len(slots) for g, slots in zip(groups, FILTERS_OF_MASK)):
        groups.reverse()  # the larger group takes the four filters of mask 1
        masks.reverse()
        if any(len(g) > len(slots) for g, slots in zip(groups, FILTERS_OF_MASK)):
            return None
    layout = []
    for mask, group, slots in zip(masks, groups, FILTERS_OF_MASK):
        for i, _ in enumerate(slots):  # unused filters repeat one of their mask's filters
            f = group[min(i, len(group) - 1)]
            layout.append((f["can_id"] & mask, mask, bool(f["extended"])))
    return layout


class ZelvoBus(can.BusABC):
    """The CAN port of a Zelvo device as a python-can bus."""

    def __init__(self, channel: Any = "default", bitrate: int = 500_000, device: Any = None,
                 can_filters: Any = None, **kwargs: Any) -> None:
        if bitrate not in BITRATES:
            raise ValueError(f"bitrate must be one of {sorted(BITRATES)}, not {bitrate}")
        self._owns_device = device is None
        if device is None:
            device = getattr(_core, kwargs.pop("product", DEFAULT_PRODUCT))()
            device.connect("default" if channel in (None, "", "default") else str(channel), verbose=False)
        if not hasattr(device, "CAN_open"):
            raise can.CanInterfaceNotImplementedError(f"{type(device).__name__} has no CAN port")
        self.device = device
        self.port = device.CAN_getPort()[0]
        self.channel_info = f"Zelvo {device._getDeviceName()} CAN {self.port}"
        self._check(device.CAN_open(self.port), "CAN_open")
        self._check(device.CAN_setSpeed(self.port, BITRATES[bitrate]), "CAN_setSpeed")
        device.CAN_start(self.port)
        self.channel = channel
        super().__init__(channel=channel, can_filters=can_filters, **kwargs)

    @staticmethod
    def _check(status: int, what: str) -> None:
        if status != 0:
            raise can.CanOperationError(f"{what} failed with code {status}", status)

    def send(self, msg: can.Message, timeout: float | None = None) -> None:
        """Sends one frame (the device queues it; ``timeout`` bounds the exchange)."""
        frame = message_to_frame(msg)
        wait = 3.0 if timeout is None else max(timeout, 0.001)
        self._check(self.device.CAN_write(self.port, frame.id, frame.data, frame.remote, frame.extended_id,
                                          timeout=wait), "CAN_write")

    def _recv_internal(self, timeout: float | None) -> tuple[can.Message | None, bool]:
        got = self.device._CAN_receive(self.port, at_least=1, at_most=1, wait=timeout)
        if not got:
            return None, False
        stamp, frame = got[0]
        return frame_to_message(frame, stamp, self.channel), False  # python-can checks the filters too

    def _apply_filters(self, filters: Any) -> None:
        layout = _device_filters(filters)
        on = layout is not None
        if on:
            for index, mask in zip(MASK_INDEX, (layout[0][1], layout[len(FILTERS_OF_MASK[0])][1])):
                extended = mask > STANDARD_ID_BITS
                self._check(self.device.CAN_setRXFilterOrMask(self.port, index, mask, False, extended),
                            "CAN_setRXFilterOrMask")
            for index, (id_, _, extended) in enumerate(layout):
                self._check(self.device.CAN_setRXFilterOrMask(self.port, index, id_, False, extended),
                            "CAN_setRXFilterOrMask")
        self._check(self.device.CAN_setRXFilteringOn(self.port, on), "CAN_setRXFilteringOn")

    def shutdown(self) -> None:
        """Closes the CAN port, and the device when the bus connected it."""
        if self._is_shutdown:
            return
        super().shutdown()
        try:
            if not self.device.killed:
                self.device.CAN_close(self.port)
        finally:
            if self._owns_device:
                self.device.close()

    @staticmethod
    def _detect_available_configs() -> list[dict]:
        return []
