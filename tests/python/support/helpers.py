"""Small helpers shared by the tests."""

from __future__ import annotations

import time

import pyzelvo


def connect(product, target):
    """Connects a product object to an emulated or scripted device."""
    if isinstance(product, pyzelvo.WifiDevice):
        product.connect(target.host, target.port, target.data_port)
    else:
        product.connect(target.host, target.port)
    return product


def eventually(predicate, within: float = 3.0) -> bool:
    """Polls predicate until it holds (True) or `within` seconds pass (False)."""
    deadline = time.monotonic() + within
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.005)
    return True
