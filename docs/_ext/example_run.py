"""Sphinx directive that runs an example script while the site builds and shows its output and figures."""

from __future__ import annotations

import os
import shlex
import subprocess
import sys
from pathlib import Path

from docutils import nodes
from docutils.parsers.rst import directives
from sphinx.application import Sphinx
from sphinx.errors import ExtensionError
from sphinx.util.docutils import SphinxDirective


class ExampleRun(SphinxDirective):
    """``.. example-run:: examples/demo.py`` with ``:args:``; ``{output}`` in them names the figure folder.

    The script runs with the interpreter that builds the site; a non-zero exit
    fails the build, so the gallery never shows a run that did not succeed.
    """

    required_arguments = 1
    option_spec = {"args": directives.unchanged, "timeout": directives.positive_int}

    def run(self) -> list[nodes.Node]:
        root = Path(self.env.srcdir).parent
        script = (root / self.arguments[0]).resolve()
        self.env.note_dependency(str(script))
        # Relative to the project root, where the script runs: the output then names no machine's paths.
        output = Path(os.path.relpath(Path(self.env.app.outdir).parent / "gallery" / script.stem, root))
        output_path = root / output
        output_path.mkdir(parents=True, exist_ok=True)
        for old in output_path.glob("*.png"):
            old.unlink()
        arguments = [a.replace("{output}", str(output)) for a in shlex.split(self.options.get("args", ""))]
        command = [sys.executable, str(script), *arguments]
        run = subprocess.run(
            command, cwd=root, capture_output=True, text=True, timeout=self.options.get("timeout", 120), check=False
        )
        if run.returncode != 0:
            raise ExtensionError(f"{self.arguments[0]} exited with {run.returncode}:\n{run.stdout}{run.stderr}")
        shown = " ".join(["python", self.arguments[0], *arguments])
        result: list[nodes.Node] = [
            nodes.paragraph("", "", nodes.Text("Output of "), nodes.literal(shown, shown), nodes.Text(":")),
            nodes.literal_block(run.stdout, run.stdout, language="text"),
        ]
        document_dir = Path(self.env.doc2path(self.env.docname)).parent
        for figure in sorted(output_path.glob("*.png")):
            uri = os.path.relpath(figure, document_dir)
            result.append(nodes.image(uri=uri, alt=f"figure written by {self.arguments[0]}: {figure.name}"))
        return result


def setup(app: Sphinx) -> dict[str, object]:
    app.add_directive("example-run", ExampleRun)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
