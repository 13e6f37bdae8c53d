"""Type-checked with mypy --strict (make typecheck): what the stubs must accept and reject."""

import array

import numpy as np

import zelk

evaluator = zelk.LegendreBasisEvaluator(1, 2, 1.0)
evaluator.set_dofs(np.zeros(4))
evaluator.set_dofs(np.arange(4))
evaluator.set_dofs(array.array("d", [0.0] * 4))
evaluator.set_dofs((1, 2.0, 3, 4))
value: float = zelk.LegendreBasis(1, 2, 1.0).evaluate_at(0.5, np.linspace(0.0, 1.0, 4))
evaluator.set_dofs("1234")  # type: ignore[arg-type]  # the stubs must reject a str
evaluator.set_dofs({0: 1.0})  # type: ignore[arg-type]  # the stubs must reject a dict
