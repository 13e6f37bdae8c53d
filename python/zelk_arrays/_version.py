"""The version of the installed distribution, whose one source is pyproject.toml."""

from importlib import metadata

try:
    __version__: str = metadata.version("zelk")
except metadata.PackageNotFoundError:  # imported from a build folder, not installed
    __version__ = "0+unknown"
