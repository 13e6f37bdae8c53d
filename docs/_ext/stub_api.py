"""Sphinx directive that documents zelk from its type stubs, whose docstrings are the module's manual."""

from __future__ import annotations

import ast
from pathlib import Path

from docutils import nodes
from docutils.statemachine import StringList
from sphinx.application import Sphinx
from sphinx.ext.napoleon import Config as NapoleonConfig
from sphinx.ext.napoleon.docstring import GoogleDocstring
from sphinx.util.docutils import SphinxDirective
from sphinx.util.nodes import nested_parse_with_titles


def _public(node: ast.AST) -> bool:
    name = getattr(node, "name", "_")
    return not name.startswith("_") or name == "__new__"


def _signature(function: ast.FunctionDef, skip_self: bool) -> str:
    arguments = function.args
    if skip_self:
        arguments = ast.arguments(
            posonlyargs=arguments.posonlyargs,
            args=arguments.args[1:],
            vararg=arguments.vararg,
            kwonlyargs=arguments.kwonlyargs,
            kw_defaults=arguments.kw_defaults,
            kwarg=arguments.kwarg,
            defaults=arguments.defaults,
        )
    text = f"({ast.unparse(arguments)})"
    if function.returns is not None:
        text += f" -> {ast.unparse(function.returns)}"
    return text


class StubApi(SphinxDirective):
    """``.. stub-api:: module path/to/stub.pyi``: the module's docstring, functions and classes in ``__all__`` order."""

    required_arguments = 2

    def run(self) -> list[nodes.Node]:
        module, relative = self.arguments
        path = Path(self.env.srcdir, relative).resolve()
        self.env.note_dependency(str(path))
        tree = ast.parse(path.read_text(encoding="utf-8"))
        definitions = {node.name: node for node in tree.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}
        lines = [f".. py:module:: {module}", ""]
        lines += self._docstring(tree, "")
        for name in self._all(tree):
            node = definitions[name]
            if isinstance(node, ast.ClassDef):
                lines += self._class(node)
            else:
                lines += [f".. py:function:: {node.name}{_signature(node, skip_self=False)}", ""]
                lines += self._docstring(node, "   ")
        content = StringList(lines, source=str(path))
        section = nodes.section()
        nested_parse_with_titles(self.state, content, section)
        return section.children

    @staticmethod
    def _all(tree: ast.Module) -> list[str]:
        for node in tree.body:
            if isinstance(node, ast.Assign) and any(getattr(t, "id", "") == "__all__" for t in node.targets):
                return list(ast.literal_eval(node.value))
        raise ValueError("the stub has no __all__")

    def _class(self, node: ast.ClassDef) -> list[str]:
        methods = [m for m in node.body if isinstance(m, ast.FunctionDef) and _public(m)]
        constructor = next((m for m in methods if m.name == "__new__"), None)
        signature = _signature(constructor, skip_self=True).split(" -> ")[0] if constructor else ""
        lines = [f".. py:class:: {node.name}{signature}", ""]
        lines += self._docstring(node, "   ")
        if constructor is not None:
            lines += self._docstring(constructor, "   ")
        for method in methods:
            if method is constructor:
                continue
            lines += [f"   .. py:method:: {method.name}{_signature(method, skip_self=True)}", ""]
            lines += self._docstring(method, "      ")
        return lines

    def _docstring(self, node: ast.AST, indent: str) -> list[str]:
        text = ast.get_docstring(node)  # type: ignore[arg-type]  # only nodes that can hold one come here
        if not text:
            return []
        converted = str(GoogleDocstring(text, NapoleonConfig(napoleon_use_rtype=False))).splitlines()
        return [indent + line if line else "" for line in converted] + [""]


def setup(app: Sphinx) -> dict[str, object]:
    app.add_directive("stub-api", StubApi)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
