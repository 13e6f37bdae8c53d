"""The README's snippets run and print what it shows; its local links point at files."""
import doctest
import re
from pathlib import Path

README = Path(__file__).resolve().parents[2] / "README.md"


def test_readme_snippets_print_what_they_show():
    results = doctest.testfile(
        str(README),
        module_relative=False,
        optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE,
    )
    assert results.failed == 0
    # Every function and class of the tour is exercised, not just a few lines.
    assert results.attempted >= 30


def test_readme_local_links_exist():
    targets = re.findall(r"\]\(([^)#:]+)\)", README.read_text(encoding="utf-8"))
    assert "docs/convergence.png" in targets
    missing = [t for t in targets if not (README.parent / t).is_file()]
    assert missing == []


def test_readme_figure_is_a_small_png():
    figure = README.parent / "docs" / "convergence.png"
    assert figure.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert figure.stat().st_size < 200_000


def test_readme_api_links_land_on_their_stub_definitions():
    stub = (README.parent / "zelk-stubs" / "__init__.pyi").read_text(encoding="utf-8").splitlines()
    links = re.findall(r"\[`([\w.]+)`\]\(zelk-stubs/__init__\.pyi#L(\d+)\)", README.read_text(encoding="utf-8"))
    assert len(links) == 14
    for name, line in links:
        assert re.match(rf"\s*(def|class) {name.split('.')[-1]}\b", stub[int(line) - 1]), (name, line)
