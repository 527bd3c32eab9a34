"""Where the library's printed lines go: standard output by default, or a handler the application
sets (set_message_handler), or the logging logger "pyzelvo" (use_logging)."""

from __future__ import annotations

import logging
import sys
from typing import Callable, Optional

_handler: Optional[Callable[[str], object]] = None


def emit(line: str) -> None:
    """One line of the library's output (connection messages, receive-thread reports, warning
    stacks)."""
    handler = _handler
    if handler is None:
        print(line, file=sys.stdout, flush=False)
    else:
        handler(line)


def set_message_handler(handler: Optional[Callable[[str], object]]) -> None:
    """Send every line the library prints to ``handler(line)`` instead of standard output; ``None``
    goes back to printing. The handler may be called from the library's threads."""
    global _handler
    if handler is not None and not callable(handler):
        raise TypeError("the message handler must be callable or None")
    _handler = handler


def use_logging(level: int = logging.INFO) -> logging.Logger:
    """Route the library's printed lines to the logging logger "pyzelvo" at ``level``; returns it."""
    logger = logging.getLogger("pyzelvo")
    set_message_handler(lambda line: logger.log(level, line))
    return logger
