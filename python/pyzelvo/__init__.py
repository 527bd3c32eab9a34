"""pyzelvo: host-side driver of the Zelvo data-acquisition, I/O and motion-control devices.

Create one object per device from its product class, connect it, call its operations (blocking,
or awaitable with the ``_async`` twins) and close it::

    import pyzelvo
    dev = pyzelvo.TavraA()
    dev.connect("192.168.1.110")
    print(dev.Sys_getSerialNumber())
    dev.close()

No hardware? ``pyzelvo.sim`` emulates every product on this machine.
"""

from __future__ import annotations

import atexit as _atexit

from . import _core
from . import errors as _errors
from . import modules as _modules
from ._blocks import StreamBlock  # noqa: F401  (not in the star export)
from ._messages import set_message_handler, use_logging  # noqa: F401  (not in the star export)
from .catalogue import *  # noqa: F401,F403  (package names, product groups, example index, labels)
from .errors import *  # noqa: F401,F403  (every error and warning class and code constant)
from .errors import raise_for_status  # noqa: F401  (not in the star export)
from .modules import *  # noqa: F401,F403  (the module classes)

__version__: str = _core.__version__  # pyproject.toml's, built into the core

# Everything public of the core: device and product classes, clients, helpers, constants.
_CORE_NAMES = [n for n in dir(_core) if not n.startswith("_") and n not in ("sim", "error_table")]
globals().update({n: getattr(_core, n) for n in _CORE_NAMES})

# What `from pyzelvo import *` brings: the product classes and DeviceFinder, the package's names,
# the product and category lists, and the error bases. Everything else is reached as pyzelvo.NAME.
__all__ = HANDLE_LIST + [  # noqa: F405
    "PKG_NAME", "PKG_FULL_NAME", "__version__",
    "HANDLE_LIST", "PRODUCT_LIST", "CATEGORY_LIST",
    "Error", "ZelvoWarning", "printGenericError",
]


def _at_exit() -> None:
    # Close every device, then every emulator (in that order, so that no device sees its emulated
    # peer go away), and keep the driver's threads away from the interpreter from here on.
    import sys

    _core._shutdown()
    sim = sys.modules.get(__name__ + ".sim")
    if sim is not None:
        sim._close_all()


_atexit.register(_at_exit)


def _register_serial_urls() -> None:
    # zelvo://<serial>/<port> URLs for pyserial's serial_for_url (protocol_zelvo.py), when pyserial
    # is installed; pyzelvo does not need it.
    try:
        import serial
    except ImportError:
        return
    if __name__ not in serial.protocol_handler_packages:
        serial.protocol_handler_packages.append(__name__)


_register_serial_urls()
