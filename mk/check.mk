# The quick loop while editing: build, C++ tests, plain pytest; none of the
# slow checks of `make test` (fuzzing, sanitizers, wheel, demo, stubs).
#
#   make check    under a minute once .venv and build/ exist

.PHONY: check

check: install cpp-test python-test
