# The x86-64 release wheel of every CPython users run, built, checked and tested in a venv of its own
# interpreter: 3.11 (the interpreter of .venv), 3.12 and 3.13 from pyenv; 3.13, 3.14, 3.15 and the
# free-threaded 3.13t from a Debian-unstable chroot that is built on first use (about 8 minutes, 1.5 GB) and
# kept outside the work tree, so that neither `make clean` nor git touch it.
#
#   make test-pythons [PYTHONS_CHROOT=/var/cache/zelk/sid]
#
# Each interpreter gets its venvs, build folder and wheel under build/pythons/; see mk/pythons/ and mk/wheels/.

PYTHONS_CHROOT ?= /var/cache/zelk/sid

.PHONY: test-pythons test-pythons-host test-pythons-chroot

# `make test` runs the host's interpreters and the chroot's as two stages, side by side: the chroot's first
# build (downloads, and 3.13t compiled from source) leaves a core mostly idle. Then the checks of the host's
# wheels (mk/package.mk), each a stage of its own in the closing table.
TEST_STEPS += test-pythons-host test-pythons-chroot wheel-check release-check

test-pythons: install
	mk/pythons/matrix.sh $(PYTHONS_CHROOT) $(abspath $(VENV))

test-pythons-host test-pythons-chroot: test-pythons-%: install
	mk/pythons/matrix.sh $(PYTHONS_CHROOT) $(abspath $(VENV)) $*
