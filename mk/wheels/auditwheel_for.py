"""auditwheel for another architecture's wheel: it takes its policies from the machine it runs on.

python auditwheel_for.py ARCH ARGS...     e.g. aarch64 repair --plat manylinux_2_17_aarch64 WHEEL
"""

import platform
import sys

machine = sys.argv.pop(1)
platform.machine = lambda: machine

from auditwheel.main import main  # noqa: E402 - after the machine is set

sys.exit(main())
