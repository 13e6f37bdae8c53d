# Sphinx configuration of zelk's documentation site (built by `make docs`, checked by `make test`).
from __future__ import annotations

import doctest as _doctest
import sys
from importlib import metadata as _metadata
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE / "_ext"))

project = "zelk"
author = "the zelk developers"
copyright = "the zelk developers, MIT licence"  # noqa: A001 - Sphinx's name
# The installed distribution's version, whose one source is pyproject.toml.
release = _metadata.version("zelk")
version = release

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.napoleon",
    "sphinx.ext.doctest",
    "sphinx.ext.intersphinx",
    "sphinx.ext.mathjax",
    "sphinx-mathjax-offline",  # MathJax served from the site itself: readers may be offline
    "sphinx_copybutton",
    "matplotlib.sphinxext.plot_directive",
    "myst_parser",
    "stub_api",
    "example_run",
]

exclude_patterns = ["_build", "_ext", "_tools"]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
templates_path: list[str] = []
nitpicky = True
nitpick_ignore_regex = [
    # Types named in signatures that no inventory here documents (no internet for intersphinx).
    ("py:class", r"(numpy|np|scipy|npt|collections\.abc|typing|petsc4py)\..*"),
    ("py:class", r"(FloatArray|csr_array|ArrayLike|NDArray|_Floats|_FloatArray|Sequence|Any)"),
    ("py:class", r"(optional|array_like|callable|int64 array|float64 array|.* of .*|two ints)"),
    # The choices of a string parameter, as numpydoc writes them: {"a", "b"}.
    ("py:class", r'\{?"[\w-]+"\}?'),
]
intersphinx_mapping: dict[str, tuple[str, str | None]] = {}

html_theme = "furo"
html_title = f"zelk {release}"
html_static_path: list[str] = []
html_last_updated_fmt = None
html_show_sourcelink = False

autodoc_default_options = {"members": True}
autodoc_member_order = "bysource"
# Signatures show the annotations, with numpy's typing aliases under their own short names
# (expanded, ArrayLike alone would swamp a signature); the numpydoc sections say the rest.
autodoc_typehints = "signature"
autodoc_typehints_format = "short"
autodoc_type_aliases = {"npt.ArrayLike": "ArrayLike"}
autodoc_preserve_defaults = True
napoleon_google_docstring = True
napoleon_numpy_docstring = True
napoleon_use_rtype = False

# The copy button copies only the input lines of a snippet, without their prompts.
copybutton_prompt_text = r">>> |\.\.\. |\$ "
copybutton_prompt_is_regexp = True
copybutton_only_copy_prompt_lines = True

# Every page imports what its snippets use, as a reader copying them would. The doctest
# builder also runs the Examples of the API reference's docstrings (doctest_test_doctest_blocks
# keeps its default): autodoc puts them on the page as doctest blocks.
doctest_default_flags = _doctest.ELLIPSIS | _doctest.NORMALIZE_WHITESPACE | _doctest.DONT_ACCEPT_TRUE_FOR_1

plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 110)]

# Only the site's own links are checked: there is no internet here.
linkcheck_ignore = [r"https?://.*"]
