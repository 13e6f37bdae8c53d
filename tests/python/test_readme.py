"""The README's taste runs and prints what it shows; its local links point at files or at the built site."""

import doctest
import re
from pathlib import Path

README = Path(__file__).resolve().parents[2] / "README.md"
SITE_INDEX = "build/docs/html/index.html"


def test_readme_snippets_print_what_they_show():
    results = doctest.testfile(
        str(README),
        module_relative=False,
        optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE,
    )
    assert results.failed == 0
    assert results.attempted >= 10


def test_readme_local_links_exist():
    targets = re.findall(r"\]\(([^)#:]+)\)", README.read_text(encoding="utf-8"))
    # The site is built by `make docs`, so only its sources need to exist here.
    assert SITE_INDEX in targets
    assert "docs/convergence.png" in targets
    missing = [t for t in targets if t != SITE_INDEX and not (README.parent / t).exists()]
    assert missing == []


def test_readme_figure_is_a_small_png():
    figure = README.parent / "docs" / "convergence.png"
    assert figure.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert figure.stat().st_size < 200_000
