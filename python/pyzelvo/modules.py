"""The module classes of the device family as abstract classes.

A product class is an ETHDevice, USBDevice or WifiDevice with the operations of its modules. Each
module appears here as three names (``AIBased``, ``AIModule``, ``AIModule_async``), and every
product is registered with the modules it carries, so ``isinstance(TavraA(), SystemModule)``
holds. The request layer's classes ``Packet_based``, ``Packet`` and ``Packet_async`` cover every
device.
"""

from __future__ import annotations

import abc

from . import _core

__all__: list[str] = []


def _abstract(name: str, doc: str) -> type:
    cls = abc.ABCMeta(name, (abc.ABC,), {"__doc__": doc, "__module__": "pyzelvo"})
    globals()[name] = cls
    __all__.append(name)
    return cls


def _based_name(module: str) -> str:
    return (module[: -len("Module")] if module.endswith("Module") else module) + "Based"


MODULES: dict[str, tuple[type, type, type]] = {}
for _module in _core._MODULE_CLASSES:
    MODULES[_module] = (
        _abstract(_based_name(_module), f"Checks and state shared by {_module} and {_module}_async."),
        _abstract(_module, f"Blocking operations of the {_module} family."),
        _abstract(_module + "_async", f"Awaitable operations of the {_module} family."),
    )

for _cls in (
    _abstract("Packet_based", "Frame building and USB enumeration of every device."),
    _abstract("Packet", "Blocking request/reply exchanges of every device."),
    _abstract("Packet_async", "Awaitable request/reply exchanges of every device."),
):
    _cls.register(_core.Device)

for _product, _modules in _core._PRODUCT_MODULES.items():
    _target = getattr(_core, _product)
    for _module in _modules:
        for _abc in MODULES[_module]:
            _abc.register(_target)
