"""The progress bar the commands draw on a terminal."""

WIDTH = 30


def bar(fraction: float, width: int = WIDTH) -> str:
    """``[#####.........]`` filled to `fraction` (clamped to 0..1)."""
    filled = int(max(0.0, min(1.0, fraction)) * width)
    return f"[{'#' * filled}{'.' * (width - filled)}]"
