# The documentation site (Sphinx, sources in docs/) and its checks.
#
#   make docs         build the site into build/docs/html, warning-free (-W);
#                     the gallery's examples run while it builds
#   make docs-check   a step of `make test`: the build, then every snippet run
#                     (doctest), the site's own links (linkcheck; no internet
#                     here), and headless Chromium opening the index and the
#                     tutorial, with no console errors, and a screenshot of each
#
# The docs' own Python dependencies are in requirements-docs.txt; Chromium is
# Debian's package, installed when missing (or the browser check is skipped
# with a line saying why when it cannot be had).

DOCS_BUILD   := build/docs
DOCS_TOOLS   := $(VENV)/.docs-tools-installed
SPHINX       := $(VENV)/bin/sphinx-build -q -n -W --keep-going -d $(DOCS_BUILD)/doctrees
DOCS_BROWSER ?= chromium

.PHONY: docs docs-check docs-doctest docs-links docs-browser

TEST_STEPS += docs-check

# make test's lanes may install the docs' and the reliability tools into .venv at once: one pip at a time.
$(DOCS_TOOLS): requirements-docs.txt | $(TOOLS)
	flock $(VENV)/.pip.lock $(PY) -m pip install --quiet --disable-pip-version-check -r requirements-docs.txt
	touch $@

# -a writes every page (reading only the changed ones), so that every page's navigation stays current.
docs: install $(DOCS_TOOLS)
	$(SPHINX) -a -b html docs $(DOCS_BUILD)/html
	@echo "docs: file://$(abspath $(DOCS_BUILD))/html/index.html"

docs-check: docs-doctest docs-links docs-browser

# The reference's Examples come from the docstrings as doctest blocks: a page without any would mean they went untested.
docs-doctest: docs
	$(SPHINX) -b doctest docs $(DOCS_BUILD)/doctest
	@grep -qx 'Document: api/zelk_arrays' $(DOCS_BUILD)/doctest/output.txt || \
	  { echo "docs-doctest: the Examples of zelk_arrays' docstrings did not run"; exit 1; }

# linkcheck checks the links to files; check_links.py every href, src and anchor of the built pages.
docs-links: docs
	$(SPHINX) -b linkcheck docs $(DOCS_BUILD)/linkcheck
	$(PY) docs/_tools/check_links.py $(DOCS_BUILD)/html

docs-browser: docs
	@if ! command -v $(DOCS_BROWSER) >/dev/null 2>&1; then \
	  echo "installing chromium"; mkdir -p $(DOCS_BUILD); \
	  { apt-get update -qq -o DPkg::Lock::Timeout=900 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
	      -o DPkg::Lock::Timeout=900 --no-install-recommends chromium; } >$(DOCS_BUILD)/apt-chromium.log 2>&1; \
	fi
	@if command -v $(DOCS_BROWSER) >/dev/null 2>&1; then \
	  $(PY) docs/_tools/browser_check.py --browser $(DOCS_BROWSER) --site $(DOCS_BUILD)/html \
	    --screenshots $(DOCS_BUILD)/screenshots index.html tutorial/index.html tutorial/nodal_modal.html; \
	else \
	  echo "docs-browser: SKIPPED: could not install chromium (see $(DOCS_BUILD)/apt-chromium.log)"; \
	fi
