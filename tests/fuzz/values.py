"""Fuzzer-chosen argument values: ints, floats and sequences, well-formed or hostile."""

import array
import math

import numpy as np

# Integers for size parameters: the edges of the unsigned 64-bit range and
# sizes so large that any request built from them fails at once.
EDGE_INTS = [
    -1,
    -(2**63),
    2**64 - 1,
    2**64,
    2**63,
    2**63 - 1,
    2**62,
    2**61,
    2**40,
    2**32,
    10**6,
    10**7,
    10**12,
    2**1000,
    -(2**1000),
]

EDGE_FLOATS = [
    0.0,
    -0.0,
    0.25,
    0.5,
    1.0,
    -1.0,
    2.0,
    1 / 3,
    0.999999999,
    1.0000000001,
    math.nan,
    math.inf,
    -math.inf,
    5e-324,
    -5e-324,
    1e-310,
    2.2250738585072014e-308,
    1.7976931348623157e308,
    -1.7976931348623157e308,
    1e-15,
    1e15,
]

SMALL_MAX = 6  # sizes the harness treats as "small"


class CallbackError(Exception):
    """Raised on purpose by the harness's own callbacks; passes through the module unchanged."""


class CallbackInterrupt(BaseException):
    """Like KeyboardInterrupt: not an Exception, so a length hint must not swallow it."""


class FuzzInt(int):
    pass


class FuzzFloat(float):
    pass


class FuzzList(list):
    pass


class Context:
    """What callbacks may reach during one input: the instances in play and the module."""

    def __init__(self, zelk):
        self.zelk = zelk
        self.instances = []  # instances made for this input
        self.target = None  # the instance whose method is being called, if any
        self.raised = []  # exceptions our callbacks raised, by identity
        self.allowed = ()  # the exception types the module may raise
        self.kwargs = {}  # the keyword dict of the call in progress
        self.known_dofs = None  # evaluator -> the dofs it is known to hold

    def raise_from_callback(self, kind):
        error = [
            CallbackError("callback"),
            RuntimeError("callback"),
            TypeError("callback"),
            OverflowError("callback"),
            ZeroDivisionError("callback"),
            MemoryError(),
            CallbackInterrupt(),
        ][kind % 7]
        self.raised.append(error)
        raise error

    def call_back(self, action):
        """Re-enters the module from inside an argument conversion."""
        victim = self.target if self.target is not None else (self.instances[0] if self.instances else None)
        z = self.zelk
        if action == 0 or victim is None:
            z.get_lagrange_points(1, 2, 1.0)
        elif action == 1:
            if isinstance(victim, z.LegendreBasisEvaluator):
                victim.evaluate_at(0.5)
            else:
                victim.evaluate_all_basis_functions(0.5)
        elif action == 2:
            if isinstance(victim, z.LegendreBasisEvaluator):
                # the dofs it holds: a conflict with a hold in progress, else no change
                victim.set_dofs(self.known_dofs(victim))
            else:
                victim.evaluate_at(0.5, [1.0] * 64)
        elif action == 3:
            try:  # swallow the inner failure: the outer call must still be sound
                self.call_back(2)
            except BaseException as error:  # PanicException derives from BaseException
                if type(error) not in self.allowed:
                    raise
        elif action == 4:
            z.lagrange_prolongation_matrix(1, 2, 1)
        else:
            # When the call was made through PyObject_Call with this very
            # dict, the constructor must hold its values itself.
            self.kwargs.clear()


class Index:
    """An object with __index__: returns a value, raises, returns a non-int, or calls back."""

    def __init__(self, ctx, mode, value):
        self.ctx, self.mode, self.value = ctx, mode, value

    def __index__(self):
        if self.mode == 1:
            self.ctx.raise_from_callback(self.value)
        if self.mode == 2:
            return [1.5, "1", None, FuzzInt(1), True][self.value % 5]
        if self.mode == 3:
            self.ctx.call_back(self.value % 6)
            return 1
        return self.value


class Floaty:
    """An object with __float__: returns a value, raises, returns a non-float, or calls back."""

    def __init__(self, ctx, mode, value):
        self.ctx, self.mode, self.value = ctx, mode, value

    def __float__(self):
        if self.mode == 1:
            self.ctx.raise_from_callback(int(self.value) if math.isfinite(self.value) else 0)
        if self.mode == 2:
            return [1, "x", None, FuzzFloat(2.0), 1j][int(abs(self.value)) % 5 if math.isfinite(self.value) else 0]
        if self.mode == 3:
            self.ctx.call_back(int(abs(self.value)) % 6 if math.isfinite(self.value) else 0)
        return self.value


class Seq:
    """A sequence whose __len__ may lie or raise and whose iteration may fail or call back."""

    def __init__(self, ctx, items, len_mode, iter_mode):
        self.ctx, self.items, self.len_mode, self.iter_mode = ctx, items, len_mode, iter_mode

    def __len__(self):
        if self.len_mode == 1:
            self.ctx.raise_from_callback(0)
        if self.len_mode == 5:
            self.ctx.raise_from_callback(6)
        if self.len_mode == 2:
            return 2**62  # a lying hint: must not be reserved up front
        if self.len_mode == 3:
            return 0
        if self.len_mode == 4:
            self.ctx.call_back(len(self.items) % 5)
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        if self.iter_mode == 4:
            self.ctx.raise_from_callback(len(self.items))
        for n, item in enumerate(self.items):
            if self.iter_mode == 1 and n == len(self.items) // 2:
                self.ctx.raise_from_callback(n)
            if self.iter_mode == 2 and n == 0:
                self.ctx.call_back(n % 5)
            yield item
        if self.iter_mode == 3:
            self.ctx.call_back(3)


class Mutator:
    """A list item whose conversion shrinks or grows the list being converted."""

    def __init__(self, owner, grow):
        self.owner, self.grow = owner, grow

    def __float__(self):
        if self.grow:
            self.owner.extend([0.5] * 8)
        else:
            self.owner.clear()
        return 0.25


class Values:
    """Draws argument values from a FuzzedDataProvider. Each int comes with its
    nominal value (what the module would convert it to, or None if the
    conversion must fail), so that the size budget can be checked."""

    def __init__(self, fdp, ctx):
        self.fdp, self.ctx = fdp, ctx

    def pick(self, n):
        return self.fdp.ConsumeIntInRange(0, n - 1)

    def small(self):
        return self.fdp.ConsumeIntInRange(0, SMALL_MAX)

    def integer(self):
        fdp, kind = self.fdp, self.pick(16)
        if kind <= 4:
            v = self.small()
            return v, v
        if kind == 5:
            b = fdp.ConsumeBool()
            return b, int(b)
        if kind == 6:
            v = fdp.PickValueInList(EDGE_INTS)
            return v, v
        if kind == 7:
            v = fdp.ConsumeInt(9)
            return v, v
        if kind == 8:
            v = self.small()
            return FuzzInt(v), v
        if kind == 9:
            v = self.small() if fdp.ConsumeBool() else fdp.PickValueInList(EDGE_INTS)
            return Index(self.ctx, 0, v), v
        if kind == 10:
            return Index(self.ctx, 1, self.small()), None
        if kind == 11:  # int subclasses from __index__ are still accepted (with a DeprecationWarning)
            v = self.small()
            return Index(self.ctx, 2, v), (1 if v % 5 >= 3 else None)
        if kind == 12:
            return Index(self.ctx, 3, self.small()), 1
        if kind == 13:
            v = self.small()
            return (np.int64(v) if fdp.ConsumeBool() else np.uint64(v)), v
        if kind == 14:
            return Floaty(self.ctx, 0, 1.0), None
        return fdp.PickValueInList([1.0, math.nan, "1", None, b"1", [1], 1j, object(), FuzzFloat(2.0)]), None

    def real(self, depth=0):
        fdp, kind = self.fdp, self.pick(15)
        if kind <= 3:
            return fdp.PickValueInList(EDGE_FLOATS)
        if kind == 4:
            return fdp.ConsumeFloat()
        if kind == 5:
            return fdp.ConsumeRegularFloat()
        if kind == 6:
            return fdp.PickValueInList([0, 1, 2, -3, True, False, 2**1024, -(2**2000), 2**53 + 1])
        if kind == 7:
            return FuzzFloat(fdp.PickValueInList(EDGE_FLOATS))
        if kind == 8:
            return Floaty(self.ctx, 0, fdp.PickValueInList(EDGE_FLOATS))
        if kind == 9:
            return Floaty(self.ctx, 1, float(self.small()))
        if kind == 10:
            return Floaty(self.ctx, 2, float(self.small()))
        if kind == 11 and depth == 0:
            return Floaty(self.ctx, 3, float(self.small()))
        if kind == 12:
            return Index(self.ctx, 0, self.small())
        if kind == 13:
            return fdp.PickValueInList([np.float64(0.5), np.float32(0.25), np.int64(3), np.float64(math.nan)])
        return fdp.PickValueInList(["0.5", None, 1j, [0.5], object(), b"x"])

    def items(self, count, plain):
        if plain:
            return [self.fdp.ConsumeRegularFloat() for _ in range(count)]
        return [
            self.real(depth=1) if self.fdp.ConsumeProbability() < 0.3 else self.fdp.ConsumeRegularFloat()
            for _ in range(count)
        ]

    def sequence(self, wanted=None):
        """A float sequence; `wanted` is the length a call needs to succeed, if known and small."""
        fdp = self.fdp
        if wanted is not None and fdp.ConsumeBool():
            count = max(0, wanted + fdp.PickValueInList([0, 0, 0, -1, 1, 5]))
        else:
            count = fdp.ConsumeIntInRange(0, 24)
        kind = self.pick(14)
        if kind <= 2:
            return self.items(count, plain=fdp.ConsumeBool())
        if kind == 3:
            return tuple(self.items(count, plain=fdp.ConsumeBool()))
        if kind == 4:
            return range(count)
        if kind == 5:
            data = bytes(fdp.ConsumeBytes(count))
            return data if fdp.ConsumeBool() else bytearray(data)
        if kind == 6:
            return array.array("d", self.items(count, plain=True))
        if kind == 7:
            dtype = fdp.PickValueInList([np.float64, np.int32, np.float32, object])
            if dtype is np.int32:
                return np.array(fdp.ConsumeIntListInRange(count, -1000, 1000), dtype=dtype)
            return np.array(self.items(count, plain=True), dtype=dtype)
        if kind == 8:
            return Seq(self.ctx, self.items(count, plain=fdp.ConsumeBool()), self.pick(6), 0)
        if kind == 9:
            return Seq(self.ctx, self.items(count, plain=True), 0, self.pick(5))
        if kind == 10:
            owner = self.items(count, plain=True)
            if owner:
                owner[fdp.ConsumeIntInRange(0, len(owner) - 1)] = Mutator(owner, fdp.ConsumeBool())
            return owner if fdp.ConsumeBool() else FuzzList(owner)
        if kind == 11:
            return memoryview(array.array("d", self.items(count, plain=True)))
        if kind == 12:
            return FuzzList(self.items(count, plain=False))
        return fdp.PickValueInList(
            ["0.5", "", {0: 1.0}, {0.5}, (x for x in [0.5]), None, 0.5, iter([0.5]), b"", object()]
        )
