"""Helpers the benchmark scripts share."""
import os


def build_type(quennick):
    """The CMAKE_BUILD_TYPE of the build tree that holds the program QUENNICK."""
    build = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(quennick))))
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return "unknown"
