"""Error and warning classes, generated from the core's table of errors.

Every concrete class fixes its code and default message; ``msg`` overrides the message. Errors
(derived from :class:`Error`) are raised. Warnings (derived from :class:`ZelvoWarning`) print the
call stack and issue a host warning when constructed, unless ``silent=True``; they can also be
raised like errors.

Besides :class:`Error`, the classes derive from the standard exceptions users catch:
``ReceivePacketTimeoutError`` is a ``TimeoutError``, the connection errors are ``ConnectionError``,
the errors about an argument that is not available, not valid or not in range are ``ValueError``,
the type errors ``TypeError``. :func:`raise_for_status` turns a negative code an operation returned
back into its exception.
"""

from __future__ import annotations

import os
import re
import sys
import traceback
import warnings
from typing import Optional

from . import _core
from . import _messages

__all__ = ["Error", "ZelvoWarning"]

# The standard exception each library error also is, by class name.
_TIMEOUT_ERRORS = {"ReceivePacketTimeoutError"}
_CONNECTION_ERRORS = {"USBConnectionError", "NetworkConnectionError", "NetworkConnectionLostError"}
_TYPE_ERRORS = {"InputTypeNotCorrectError", "InputTypeNotConsistentError"}
# An argument that is not available, not valid, not in range, not known, too long (the firmware's
# own errors and "this product has no such operation" are not about an argument).
_ARGUMENT_ERROR = re.compile(r"NotAvaliable|NotVaild|NotInRange|NotExist|NotDefine|NotSupport|ExceedMax|Index|"
                             r"AddressSize|ExtensionName")
_NOT_ARGUMENT_ERRORS = re.compile(r"^(Firmware|APINotSupport)")


def _standard_base(name: str) -> tuple[type, ...]:
    if name in _TIMEOUT_ERRORS:
        return (TimeoutError,)
    if name in _CONNECTION_ERRORS:
        return (ConnectionError,)
    if name in _TYPE_ERRORS:
        return (TypeError,)
    if _ARGUMENT_ERROR.search(name) and not _NOT_ARGUMENT_ERRORS.match(name):
        return (ValueError,)
    return ()


# Frames of this package are not the caller's: warnings point past them.
_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__)) + os.sep


def _user_frame(frame):
    """The first frame, from `frame` outwards, that is not in this package (None on a thread that
    has only the library's frames, such as a receive thread)."""
    while frame is not None and frame.f_code.co_filename.startswith(_PACKAGE_DIR):
        frame = frame.f_back
    return frame


class Error(Exception):
    """A library error: a fixed negative ``code`` and a ``msg``."""

    code: int
    msg: str

    def __init__(self, code: int, msg: str, *args) -> None:
        super().__init__(code, msg, *args)
        self.code = code
        self.msg = msg

    def __str__(self) -> str:
        return "Error {:d}: {}".format(self.code, self.msg)

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.msg!r})"


class ZelvoWarning(UserWarning):
    """A library warning: printed with the call stack and issued when constructed."""

    code: int
    msg: str

    def __init__(self, code: int, msg: str, silent: bool = False) -> None:
        super().__init__(code, msg)
        self.code = code
        self.msg = msg
        if not silent:
            # The stack of the code that called the library (none on the library's own threads),
            # and the warning pointing at that code's line.
            frame = _user_frame(sys._getframe(1))
            if frame is not None:
                _messages.emit("\n".join(traceback.format_stack(frame)))
            stacklevel = 1
            f = sys._getframe(0)
            while f is not None and f is not frame:
                f = f.f_back
                stacklevel += 1
            warnings.warn(self, stacklevel=stacklevel if frame is not None else 1)

    def __str__(self) -> str:
        return "Warning {:d}: {}".format(self.code, self.msg)

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.msg!r})"


def _error_class(name: str, code: int, message: str) -> type:
    def __init__(self, msg: str | None = None, *args) -> None:
        Error.__init__(self, code, message if msg is None else msg, *args)

    def __reduce__(self):
        return (type(self), (self.msg,))

    doc = f"{message} (code {code})"
    return type(name, (Error,) + _standard_base(name), {"__init__": __init__, "__reduce__": __reduce__,
                                                        "__doc__": doc, "__module__": "pyzelvo"})


def _warning_class(name: str, code: int, message: str) -> type:
    def __init__(self, msg: str | None = None, *args, silent: bool = False) -> None:
        ZelvoWarning.__init__(self, code, message if msg is None else msg, silent=silent)

    def __reduce__(self):
        return (_silent, (type(self), self.msg))

    doc = f"{message} (code {code})"
    return type(name, (ZelvoWarning,), {"__init__": __init__, "__reduce__": __reduce__, "__doc__": doc,
                                        "__module__": "pyzelvo"})


def _silent(cls: type, msg: str) -> ZelvoWarning:
    return cls(msg, silent=True)


Error.__module__ = "pyzelvo"
ZelvoWarning.__module__ = "pyzelvo"

CLASSES: dict[str, type] = {}
CONSTANTS: dict[str, int] = {}
for _name, _kind, _constant, _code, _message in _core.error_table():
    _make = _warning_class if _kind == "Warning" else _error_class
    CLASSES[_name] = _make(_name, _code, _message)
    if _constant:
        CONSTANTS[_constant] = _code

globals().update(CLASSES)
globals().update(CONSTANTS)
__all__ += list(CLASSES) + list(CONSTANTS)
_core._register_error_classes(CLASSES)

# Code -> error class; where two errors share a code, the first in the table.
_BY_CODE: dict[int, type] = {}
for _cls in CLASSES.values():
    if issubclass(_cls, Error):
        _BY_CODE.setdefault(_cls().code, _cls)


def raise_for_status(code: int, msg: Optional[str] = None) -> int:
    """Raise the exception of a negative code an operation returned; return a code >= 0 as it is.

    The operations that follow the status convention return 0 or the negative code of the firmware
    error (``-7004``) instead of raising; ``raise_for_status(dev.Sys_setRTC(...))`` raises
    ``FirmwareRTCError`` for it. A negative code the library does not know raises :class:`Error`
    with that code.
    """
    if isinstance(code, bool) or not isinstance(code, int):
        raise CLASSES["InputTypeNotCorrectError"]()
    if code >= 0:
        return code
    cls = _BY_CODE.get(code)
    if cls is None:
        raise Error(code, msg or "Unknown error code.")
    raise cls(msg)
