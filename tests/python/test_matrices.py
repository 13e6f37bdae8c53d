"""The prolongation and Lagrange-to-Legendre matrices: exact triplets, messages, sizes and properties."""

import struct

import numpy as np
import pytest
import scipy.sparse

import zelk
import zelk_arrays as za

prolong = zelk.lagrange_prolongation_matrix
transform = zelk.lagrange_to_legendre_basis_transformation


def bits(values):
    return [struct.pack("<d", v) for v in values]


@pytest.mark.parametrize(
    "args, rows, cols, values",
    [
        ((1, 2, 1), [0, 1, 1, 2], [0, 0, 1, 1], [1.0, 0.5, 0.5, 1.0]),
        ((1, 1, 2), [0, 1, 2], [0, 1, 2], [1.0, 1.0, 1.0]),
        (
            (1, 2, 2),
            [0, 1, 1, 1, 2, 3, 3, 3, 4],
            [0, 0, 1, 2, 1, 0, 1, 2, 2],
            [1.0, 0.375, 0.75, -0.125, 1.0, -0.12499999999999999, 0.7499999999999999, 0.37499999999999994, 1.0],
        ),
        ((2, 1, 1), [0, 1], [0, 2], [1.0, 1.0]),
        ((3, 2, 1), [0, 1, 1, 2], [0, 1, 2, 3], [1.0, 0.5, 0.5, 1.0]),
        ((10**12, 2, 1), [0, 1, 2], [0, 5 * 10**11, 10**12], [1.0, 1.0, 1.0]),  # coarse points never built
        # Beyond 2^53 intervals: floor(s) and nc are compared as integers, not as doubles.
        (
            (4052555153018976267, 3, 1),
            [0, 1, 2, 3],
            [0, 1350851717672992000, 2701703435345984000, 4052555153018976256],
            [1.0] * 4,
        ),
        (
            (4052555153018976267, 7, 3),
            list(range(22)),
            [
                0,
                578936450431282272,
                1157872900862564544,
                1736809351293846912,
                2315745801725129088,
                2894682252156411264,
                3473618702587693824,
                4052555153018976000,
                4631491603450258176,
                5210428053881540352,
                5789364504312822528,
                6368300954744106240,
                6947237405175387648,
                7526173855606669824,
                8105110306037952000,
                8684046756469235712,
                9262983206900516352,
                9841919657331800064,
                10420856107763080704,
                10999792558194364416,
                11578729008625645056,
                12157665459056928768,
            ],
            [1.0] * 22,
        ),
        (
            (6148914691236517204, 10, 3),
            list(range(31)),
            [
                0,
                614891469123651648,
                1229782938247303296,
                1844674407370955136,
                2459565876494606592,
                3074457345618258432,
                3689348814741910272,
                4304240283865562112,
                4919131752989213184,
                5534023222112865024,
                6148914691236516864,
                6763806160360167936,
                7378697629483820544,
                7993589098607471616,
                8608480567731124224,
                9223372036854775296,
                9838263505978426368,
                10453154975102078976,
                11068046444225730048,
                11682937913349381120,
                12297829382473033728,
                12912720851596684800,
                13527612320720335872,
                14142503789843988480,
                14757395258967641088,
                15372286728091293696,
                15987178197214943232,
                16602069666338595840,
                17216961135462248448,
                17831852604585897984,
                18446744073709550592,
            ],
            [1.0] * 31,
        ),
    ],
)
def test_prolongation_exact(args, rows, cols, values):
    got = prolong(*args)
    assert type(got) is tuple and got[0] == rows and got[1] == cols
    assert bits(got[2]) == bits(values)
    assert all(type(i) is int for i in got[0] + got[1]) and all(type(v) is float for v in got[2])


@pytest.mark.parametrize(
    "args, message",
    [
        ((0, 0, 0), "Lagrange prolongation requires polynomial degree at least 1"),
        ((0, 3, 1), "Lagrange prolongation requires at least one coarse interval"),
        ((2, 0, 1), "Lagrange prolongation requires at least one fine interval"),
        ((10**12, 0, 1), "Lagrange prolongation requires at least one fine interval"),
        ((1, 2**63, 4), "capacity overflow"),
    ],
)
def test_prolongation_faults(panic_type, args, message):
    with pytest.raises(panic_type) as caught:
        prolong(*args)
    assert str(caught.value) == message


def test_prolongation_memory_error():
    with pytest.raises(MemoryError):
        prolong(1, 10**12, 1)
    assert prolong(1, 2, 1)[0] == [0, 1, 1, 2]


@pytest.mark.parametrize(
    "nt_coarse, nt_fine, degree", [(1, 3, 1), (2, 4, 2), (3, 7, 3), (5, 2, 4), (4, 9, 6), (7, 7, 2)]
)
def test_prolongation_reproduces_piecewise_polynomials(nt_coarse, nt_fine, degree):
    rows, cols, values = prolong(nt_coarse, nt_fine, degree)
    assert 0.0 not in values and len(rows) == len(cols) == len(values)
    assert len(values) <= (nt_fine * degree + 1) * (degree + 1)
    shape = (nt_fine * degree + 1, nt_coarse * degree + 1)
    matrix = scipy.sparse.coo_matrix((values, (rows, cols)), shape=shape).tocsr()
    rng = np.random.default_rng(nt_coarse * 100 + degree)
    coarse_points = np.array(zelk.get_lagrange_points(degree, nt_coarse, 1.0))
    fine_points = np.array(zelk.get_lagrange_points(degree, nt_fine, 1.0))
    # One polynomial of degree <= p over the whole interval is a piecewise polynomial on any grid.
    coefficients = rng.standard_normal(degree + 1)
    fine = matrix @ np.polyval(coefficients, coarse_points)
    assert np.allclose(fine, np.polyval(coefficients, fine_points), rtol=1e-12, atol=1e-12)
    # Rows sum to one: constants are reproduced.
    assert np.allclose(matrix @ np.ones(shape[1]), 1.0, rtol=0, atol=1e-13)


@pytest.mark.parametrize(
    "args, rows, cols, values",
    [
        ((1, 2), [0, 0, 1, 1, 2, 2, 3, 3], [0, 1, 1, 2, 0, 1, 1, 2], [0.5, 0.5, 0.5, 0.5, -0.5, 0.5, -0.5, 0.5]),
        (
            (2, 1),
            [0, 0, 0, 1, 1, 1, 2, 2, 2],
            [0, 1, 2, 0, 1, 2, 0, 1, 2],
            [
                0.16666666666666666,
                0.6666666666666666,
                0.16666666666666666,
                -0.5,
                0.0,
                0.5,
                0.3333333333333333,
                -0.6666666666666666,
                0.3333333333333333,
            ],
        ),
        ((1, 0), [], [], []),
        ((5, 0), [], [], []),
    ],
)
def test_transformation_exact(args, rows, cols, values):
    assert transform(*args) == (rows, cols, values)


@pytest.mark.parametrize(
    "degree, expected",
    [
        (
            3,
            [
                [1 / 8, 3 / 8, 3 / 8, 1 / 8],
                [-11 / 40, -27 / 40, 27 / 40, 11 / 40],
                [3 / 8, -3 / 8, -3 / 8, 3 / 8],
                [-9 / 40, 27 / 40, -27 / 40, 9 / 40],
            ],
        ),
        (
            4,
            [
                [7 / 90, 16 / 45, 2 / 15, 16 / 45, 7 / 90],
                [-7 / 30, -8 / 15, 0, 8 / 15, 7 / 30],
                [17 / 63, 16 / 63, -22 / 21, 16 / 63, 17 / 63],
                [-4 / 15, 8 / 15, 0, -8 / 15, 4 / 15],
                [16 / 105, -64 / 105, 32 / 35, -64 / 105, 16 / 105],
            ],
        ),
    ],
)
def test_transformation_from_the_inverse(degree, expected):
    rows, cols, values = transform(degree, 1)
    assert len(values) == (degree + 1) ** 2  # weights that are 0 in exact arithmetic are still stored
    dense = np.zeros((degree + 1, degree + 1))
    dense[rows, cols] = values
    assert np.allclose(dense, expected, rtol=0, atol=1e-14)


@pytest.mark.parametrize("degree, n_t", [(1, 3), (2, 3), (3, 4), (5, 2), (8, 1)])
def test_transformation_structure(degree, n_t):
    rows, cols, values = transform(degree, n_t)
    assert len(values) == (degree + 1) ** 2 * n_t
    assert max(rows) == (degree + 1) * n_t - 1 and max(cols) == n_t * degree
    for r, c in zip(rows, cols):
        k = r % n_t
        assert k * degree <= c <= k * degree + degree
    assert list(zip(rows, cols)) == sorted(zip(rows, cols))


@pytest.mark.parametrize("degree", [1, 2, 3, 4, 5, 6])
def test_transformation_feeds_legendre_evaluation(degree):
    n_t, T = 3, 1.0
    rows, cols, values = transform(degree, n_t)
    matrix = scipy.sparse.coo_matrix((values, (rows, cols)), shape=((degree + 1) * n_t, n_t * degree + 1))
    points = np.array(zelk.get_lagrange_points(degree, n_t, T))
    rng = np.random.default_rng(degree)
    coefficients = rng.standard_normal(degree + 1)
    legendre = matrix @ np.polyval(coefficients, points)
    basis = zelk.LegendreBasis(degree, n_t, T)
    for t in rng.uniform(0, T, 25):
        assert basis.evaluate_at(t, legendre.tolist()) == pytest.approx(np.polyval(coefficients, t), abs=1e-11)


def test_transformation_faults(panic_type):
    for n_t in (0, 1, 5):
        with pytest.raises(panic_type, match="^Lagrange to Legendre conversion not meaningful for degree 0$"):
            transform(0, n_t)
    with pytest.raises(panic_type, match="^capacity overflow$"):
        transform(1, 2**63)
    with pytest.raises(MemoryError):
        transform(1, 10**12)
    with pytest.raises(OverflowError):
        transform(-1, 1)


def test_matrix_argument_names():
    assert prolong(nt_fine=2, degree=1, nt_coarse=1) == prolong(1, 2, 1)
    assert transform(n_t=2, degree=1) == transform(1, 2)
    with pytest.raises(TypeError, match=r"^argument 'nt_fine': "):
        prolong(1, 2.0, 1)
    with pytest.raises(
        TypeError,
        match=r"^lagrange_prolongation_matrix\(\) missing 1 required positional "
        r"argument: 'degree'$",
    ):
        prolong(1, 2)


def prolongation_rows(nt_coarse, nt_fine, p):
    """Each fine row's barycentric weights, one row at a time in the builder's operand order."""
    nodes = [-1.0 + ((1.0 - (-1.0)) * k) / p for k in range(p + 1)]
    weights = []
    for k in range(p + 1):
        product = 1.0
        for m in range(p + 1):
            if m != k:
                product = product * (nodes[k] - nodes[m])
        weights.append(1.0 / product)
    rows = []
    for i in range(nt_fine * p + 1):
        s = (i / (nt_fine * p)) * nt_coarse
        j = min(int(s), nt_coarse - 1)
        d = s - j
        xi = (d + d) + (-1.0)
        hit = [k for k in range(p + 1) if abs(xi - nodes[k]) < 1e-14]
        if hit:
            rows.append(([j * p + hit[0]], [1.0]))
            continue
        values = [w / (xi - r) for w, r in zip(weights, nodes)]
        total = 0.0
        for v in values:
            total = total + v
        kept = [(j * p + k, v / total) for k, v in enumerate(values) if v / total != 0.0]
        rows.append(([c for c, _ in kept], [v for _, v in kept]))
    return rows


@pytest.mark.parametrize(
    "nt_coarse, nt_fine, degree", [(7, 300, 3), (3, 300, 3), (10, 400, 4), (3, 170, 2), (13, 90, 6), (1000, 97, 1)]
)
def test_prolongation_rows_bit_for_bit_across_row_blocks(nt_coarse, nt_fine, degree):
    # Hundreds of rows: several blocks of the fill; slots that repeat (3 -> 300, 10 -> 400) and rows computed anew.
    cols, values = [], []
    for row_cols, row_values in prolongation_rows(nt_coarse, nt_fine, degree):
        cols += row_cols
        values += row_values
    rows, got_cols, got_values = prolong(nt_coarse, nt_fine, degree)
    assert got_cols == cols and bits(got_values) == bits(values)
    assert rows == sorted(rows) and len(rows) == len(cols)


@pytest.mark.parametrize(
    "nt_coarse, nt_fine, degree", [(40, 12000, 3), (1000, 3000, 3), (30000, 9000, 3), (64, 1000, 1), (8, 2000, 5)]
)
def test_prolongation_repeating_rows_bit_for_bit(nt_coarse, nt_fine, degree):
    # Rows repeating over many periods, most from their slots' kept entries, the rest (other roundings of their
    # local coordinate, other entry counts) looked up anew; whole, in pieces and at both index widths.
    expected = prolongation_rows(nt_coarse, nt_fine, degree)
    cols = [c for row_cols, _ in expected for c in row_cols]
    values = bits([v for _, row_values in expected for v in row_values])
    indptr = np.cumsum([0] + [len(row_cols) for row_cols, _ in expected]).tolist()
    _, got_cols, got_values = prolong(nt_coarse, nt_fine, degree)
    assert got_cols == cols and bits(got_values) == values
    cut = nt_fine // 3 + 1
    for index_dtype in (np.int32, np.int64):
        head, tail = (
            za.lagrange_prolongation_matrix(nt_coarse, nt_fine, degree, intervals=k, index_dtype=index_dtype)
            for k in [(0, cut), (cut, nt_fine)]
        )
        assert np.concatenate([head.indices, tail.indices]).tolist() == cols
        assert bits(np.concatenate([head.data, tail.data])) == values
        assert np.concatenate([head.indptr, tail.indptr[1:] + head.indptr[-1]]).tolist() == indptr
