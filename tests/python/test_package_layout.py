"""The layout of zelk_arrays, read from its sources: imports within the package form no cycle, and __init__
only re-exports what its modules define."""

import ast
from pathlib import Path

PACKAGE = Path(__file__).resolve().parents[2] / "python" / "zelk_arrays"


def package_imports(tree):
    """The package's own modules that a module imports, wherever the import stands (TYPE_CHECKING too)."""
    found = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.level == 1:
            found.update([node.module] if node.module else [alias.name for alias in node.names])
        elif isinstance(node, ast.ImportFrom) and node.module and node.module.startswith("zelk_arrays"):
            found.add(node.module.removeprefix("zelk_arrays").lstrip(".") or "__init__")
        elif isinstance(node, ast.Import):
            found.update(a.name.split(".")[1] for a in node.names if a.name.startswith("zelk_arrays."))
    return {name.split(".")[0] for name in found}


def import_graph():
    modules = {path.stem: ast.parse(path.read_text()) for path in PACKAGE.glob("*.py")}
    stubs = {path.stem for path in PACKAGE.glob("*.pyi")}
    return {name: package_imports(tree) for name, tree in modules.items()}, set(modules) | stubs


def find_cycle(graph):
    """One cycle as a list of modules, or None; depth-first with the path on a stack."""
    done, path = set(), []

    def visit(name):
        if name in path:
            return path[path.index(name) :] + [name]
        if name in done:
            return None
        path.append(name)
        for target in sorted(graph.get(name, ())):
            if cycle := visit(target):
                return cycle
        path.pop()
        done.add(name)
        return None

    return next((cycle for name in sorted(graph) if (cycle := visit(name))), None)


def test_imports_within_the_package_point_down():
    graph, known = import_graph()
    assert {"_native", "_validation"} <= set().union(*graph.values()), "the parse found no package imports"
    unknown = {f"{name} -> {target}" for name, targets in graph.items() for target in targets - known}
    assert not unknown, unknown
    assert find_cycle(graph) is None, " -> ".join(find_cycle(graph))


def test_find_cycle_sees_an_indirect_one():
    assert find_cycle({"a": {"b"}, "b": {"c"}, "c": {"a"}, "d": {"a"}}) == ["a", "b", "c", "a"]
    assert find_cycle({"a": {"b", "c"}, "b": {"c"}, "c": set()}) is None


def test_init_only_reexports():
    tree = ast.parse((PACKAGE / "__init__.py").read_text())
    defined = [node.name for node in ast.walk(tree) if isinstance(node, (ast.FunctionDef, ast.ClassDef))]
    assert not defined, f"__init__.py defines {defined}; it should import them from a module of their own"
    imported = {
        alias.asname or alias.name
        for node in ast.walk(tree)
        if isinstance(node, ast.ImportFrom)
        for alias in node.names
    }
    exported = next(
        ast.literal_eval(node.value)
        for node in tree.body
        if isinstance(node, ast.Assign) and any(isinstance(t, ast.Name) and t.id == "__all__" for t in node.targets)
    )
    assert set(exported) <= imported, set(exported) - imported
