"""Error and warning classes, generated from the core's table of errors.

Every concrete class fixes its code and default message; ``msg`` overrides the message. Errors
(derived from :class:`Error`) are raised. Warnings (derived from :class:`ZelvoWarning`) print the
call stack and issue a host warning when constructed, unless ``silent=True``; they can also be
raised like errors.
"""

from __future__ import annotations

import sys
import traceback
import warnings

from . import _core

__all__ = ["Error", "ZelvoWarning"]


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
            # The stack of whoever constructed the warning, without the constructors themselves.
            frame = sys._getframe(1)
            while frame is not None and frame.f_code.co_name == "__init__" and isinstance(
                frame.f_locals.get("self"), ZelvoWarning
            ):
                frame = frame.f_back
            print("\n".join(traceback.format_stack(frame)))
            warnings.warn(self, stacklevel=2)

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
    return type(name, (Error,), {"__init__": __init__, "__reduce__": __reduce__, "__doc__": doc,
                                 "__module__": "pyzelvo"})


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
