# The distributed example under MPI (`make test-distributed`, a step of `make test`):
#   mpi4py: examples/distributed_prolongation.py under `mpiexec -n 4` from the
#     MPICH and mpi4py wheels of .venv, oversubscribed on whatever cores there are;
#   PETSc: the same run also builds a distributed AIJ matrix, and
#     examples/distributed_space_time.py --petsc solves on 1, 2 and 4 ranks. Debian's
#     python3-petsc4py needs Debian's own interpreter and its numpy 1.x, so a
#     venv made from /usr/bin/python3 with --system-site-packages gets this
#     project's wheel (same CPython minor version as .venv's). PETSc from PyPI
#     compiles for over 20 minutes, too long for this step.
# Each product is checked bit for bit against the serial scipy product; a
# missing tool is skipped with one line saying why.

DISTRIBUTED_BUILD := build/distributed
PETSC_VENV        := $(DISTRIBUTED_BUILD)/petsc-venv
PETSC_PYTHON      := /usr/bin/python3
MPI_TIMEOUT       := timeout 120
# Debian's petsc4py runs on Open MPI, which refuses root and more ranks than cores unless told.
OMPI_ENV := OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMPI_MCA_rmaps_base_oversubscribe=1
# petsc4py finds PETSc through PETSC_DIR where the development package's /usr/lib/petsc is absent.
PETSC_DIR_FIND := export PETSC_DIR=$${PETSC_DIR:-$$(ls -d /usr/lib/petsc /usr/lib/petscdir/petsc*/*-real \
  2>/dev/null | head -n 1)}

.PHONY: test-distributed test-mpi test-petsc

TEST_STEPS += test-distributed

test-distributed: test-mpi test-petsc

test-mpi: install
	@if [ ! -x $(VENV)/bin/mpiexec ] || ! $(PY) -c 'import mpi4py.MPI' 2>/dev/null; then \
	  echo "test-mpi: SKIPPED: mpiexec or mpi4py missing from .venv (see requirements-dev.txt)"; \
	else \
	  echo "mpi4py, mpiexec -n 4:"; \
	  $(MPI_TIMEOUT) $(VENV)/bin/mpiexec -n 4 $(PY) examples/distributed_prolongation.py && \
	  $(MPI_TIMEOUT) $(VENV)/bin/mpiexec -n 4 $(PY) examples/distributed_space_time.py; \
	fi

$(DISTRIBUTED_BUILD):
	mkdir -p $@

# PLAT_BUILD (the apt log's folder) is defined by platforms.mk, read after this file: made here, not as a prerequisite.
test-petsc: install | $(DISTRIBUTED_BUILD)
	@mkdir -p $(PLAT_BUILD)
	@if $(call platform_tools,petsc,$(PETSC_DIR_FIND) && test -x /usr/bin/mpiexec && \
	    $(PETSC_PYTHON) -c 'import petsc4py.PETSc; import mpi4py.MPI; import scipy.sparse',\
	    python3-petsc4py python3-mpi4py python3-scipy python3-venv,test-petsc); then \
	  $(PETSC_DIR_FIND); \
	  set -e; \
	  version='import sys; print(sys.version_info[:2])'; \
	  if [ "$$($(PETSC_PYTHON) -c "$$version")" != "$$($(PY) -c "$$version")" ]; then \
	    echo "test-petsc: SKIPPED: $(PETSC_PYTHON) is not .venv's Python version, which the wheel is for"; exit 0; \
	  fi; \
	  rm -f $(DISTRIBUTED_BUILD)/zelk-*.whl; \
	  $(PY) -m pip wheel --quiet --disable-pip-version-check --no-build-isolation --no-deps -w $(DISTRIBUTED_BUILD) .; \
	  [ -x $(PETSC_VENV)/bin/python ] || $(PETSC_PYTHON) -m venv --system-site-packages $(PETSC_VENV); \
	  $(PETSC_VENV)/bin/python -m pip install --quiet --disable-pip-version-check --no-index --no-deps \
	    --force-reinstall $(DISTRIBUTED_BUILD)/zelk-*.whl; \
	  echo "petsc4py (Debian), mpiexec -n 4:"; \
	  $(OMPI_ENV) $(MPI_TIMEOUT) /usr/bin/mpiexec -n 4 $(PETSC_VENV)/bin/python examples/distributed_prolongation.py; \
	  for ranks in 1 2 4; do \
	    echo "petsc4py (Debian), space-time solve, mpiexec -n $$ranks:"; \
	    $(OMPI_ENV) $(MPI_TIMEOUT) /usr/bin/mpiexec -n $$ranks $(PETSC_VENV)/bin/python \
	      examples/distributed_space_time.py --petsc; \
	  done; \
	fi
