# Sphinx configuration of zelk's documentation site (built by `make docs`, checked by `make test`).
from __future__ import annotations

import doctest as _doctest
import sys
from pathlib import Path

from sphinx.application import Sphinx

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE / "_ext"))

project = "zelk"
author = "the zelk developers"
copyright = "the zelk developers, MIT licence"  # noqa: A001 - Sphinx's name
release = "0.1.0"

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.napoleon",
    "sphinx.ext.doctest",
    "sphinx.ext.intersphinx",
    "sphinx.ext.mathjax",
    "sphinx-mathjax-offline",  # MathJax served from the site itself: readers may be offline
    "matplotlib.sphinxext.plot_directive",
    "myst_parser",
    "stub_api",
    "example_run",
]

# Tutorial pages written against zelk_arrays API that other branches are
# adding: built and shown, but left out of the doctest run until that API is
# in the tree. Empty this list once it is.
pending_api_pages = [
    "tutorial/space_time_heat",
    "tutorial/multigrid",
    "tutorial/distributed",
]

exclude_patterns = ["_build", "_ext", "_tools"]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
templates_path: list[str] = []
nitpicky = True
nitpick_ignore_regex = [
    # Types named in signatures that no inventory here documents (no internet for intersphinx).
    ("py:class", r"(numpy|scipy|npt|collections\.abc|typing)\..*"),
    ("py:class", r"(FloatArray|csr_array|ArrayLike|NDArray|_Floats|_FloatArray|Sequence|Any)"),
    ("py:class", r"(optional|array_like|int64 array|float64 array|.* of .*)"),
]
intersphinx_mapping: dict[str, tuple[str, str | None]] = {}

html_theme = "furo"
html_title = "zelk"
html_static_path: list[str] = []
html_last_updated_fmt = None
html_show_sourcelink = False

autodoc_default_options = {"members": True}
autodoc_member_order = "bysource"
# The numpydoc sections give every type; numpy-typing aliases would swamp the signatures.
autodoc_typehints = "none"
autodoc_preserve_defaults = True
napoleon_google_docstring = True
napoleon_numpy_docstring = True
napoleon_use_rtype = False

# Every page imports what its snippets use, as a reader copying them would.
doctest_default_flags = _doctest.ELLIPSIS | _doctest.NORMALIZE_WHITESPACE | _doctest.DONT_ACCEPT_TRUE_FOR_1

plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 110)]

# Only the site's own links are checked: there is no internet here.
linkcheck_ignore = [r"https?://.*"]


def _skip_pending_pages(app: Sphinx) -> None:
    if app.builder.name != "doctest":
        return
    test_doc = app.builder.test_doc  # type: ignore[attr-defined]
    if pending_api_pages:
        # Printed, not logged: the checks run quiet (-q), and this must stay visible until the list is empty.
        print("doctest: leaving out the pending pages", ", ".join(pending_api_pages))

    def test_unless_pending(docname: str, doctree: object) -> None:
        if docname not in pending_api_pages:
            test_doc(docname, doctree)

    app.builder.test_doc = test_unless_pending  # type: ignore[attr-defined]


def setup(app: Sphinx) -> None:
    app.connect("builder-inited", _skip_pending_pages)
