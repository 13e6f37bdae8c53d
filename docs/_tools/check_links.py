"""Checks that every link of the built site that stays inside it resolves: the file exists, and so does the anchor.

Sphinx's linkcheck builder leaves anchors within the site unchecked, and
external links cannot be checked here (no internet); this covers every
href and src of every page, including those of the theme.

    python docs/_tools/check_links.py build/docs/html
"""

from __future__ import annotations

import sys
from html.parser import HTMLParser
from pathlib import Path
from urllib.parse import unquote, urlsplit


class Page(HTMLParser):
    def __init__(self) -> None:
        super().__init__()
        self.ids: set[str] = set()
        self.links: list[str] = []

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        for name, value in attrs:
            if value is None:
                continue
            if name in ("id", "name"):
                self.ids.add(value)
            elif name in ("href", "src") and not (tag == "link" and ("rel", "preconnect") in attrs):
                self.links.append(value)


def parse(path: Path) -> Page:
    page = Page()
    page.feed(path.read_text(encoding="utf-8"))
    return page


def main(site: Path) -> int:
    pages = {path.resolve(): parse(path) for path in sorted(site.rglob("*.html"))}
    broken = []
    checked = 0
    for path, page in pages.items():
        for link in page.links:
            parts = urlsplit(link)
            if parts.scheme or parts.netloc or link.startswith("javascript:"):
                continue  # external: not checkable here
            target = (path.parent / unquote(parts.path)).resolve() if parts.path else path
            checked += 1
            if not target.is_relative_to(site.resolve()) or not target.exists():
                broken.append(f"{path.relative_to(site.resolve())}: {link}: no such file")
            elif parts.fragment and target.suffix == ".html" and unquote(parts.fragment) not in pages[target].ids:
                broken.append(f"{path.relative_to(site.resolve())}: {link}: no such anchor")
    for line in broken:
        print(line, file=sys.stderr)
    print(f"{checked} internal links in {len(pages)} pages: {len(broken)} broken")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1])))
