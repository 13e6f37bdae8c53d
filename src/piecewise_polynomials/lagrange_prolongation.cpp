// lagrange_prolongation: coarse-to-fine nodal interpolation, in the operand order the last bits depend on.
#include "piecewise_polynomials/lagrange_prolongation.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/csr_filled.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"
#include "piecewise_polynomials/time_grid_location.hpp"
#include "vector_units/vector_level.hpp"

namespace zelk::piecewise_polynomials {

using linear_algebra::CsrMatrix;
using linear_algebra::CsrRows;

namespace {

// Nearest double to 10^-14: how close, in reference coordinates, a fine point
// must be to a coarse node to take its value exactly.
constexpr double node_hit_tolerance = 1e-14;

// Coarse sub-interval of a position s >= 0 in coarse-interval units: floor(s)
// as an integer, compared with nc as integers, so the right end goes to the
// last one. Beyond 2^53 double(nc) is rounded, and comparing in doubles would
// move the top rows; only a floor from 2^64 up cannot be converted and saturates.
std::uint64_t coarse_interval(double s, std::uint64_t nc)
{
    return std::min(saturating_floor_to_u64(s), nc - 1);
}

// Position of fine row i in coarse-interval units: the quotient first, then the product.
double coarse_position(std::uint64_t i, double n, double nc)
{
    return (static_cast<double>(i) / n) * nc;
}

// The coarse sub-interval of global row i, exactly as the fill finds it.
std::uint64_t coarse_interval(const ProlongationShape& shape, std::uint64_t i)
{
    const double n = static_cast<double>(shape.nt_fine * shape.degree);
    return coarse_interval(coarse_position(i, n, static_cast<double>(shape.nt_coarse)), shape.nt_coarse);
}

// Never the bits of a local coordinate, which is always finite: marks an empty slot.
constexpr std::uint64_t no_key = 0x7ff8'0000'0000'0000;  // a NaN

// Slots kept at most, in entries: small enough to stay in cache.
constexpr std::uint64_t max_kept_entries = std::uint64_t{1} << 15;

// Rows that share a slot round to a few different local coordinates (more
// the farther from 0 they lie): each slot keeps this many of them.
constexpr std::uint64_t ways = 4;

// Rows after which fine row positions i * nc / n repeat within their coarse
// sub-interval, n / gcd(n, nc); 1 when that many slots of `ways * local`
// entries would not stay small or not repeat within `nrows` rows.
std::uint64_t repeat_period(std::uint64_t n, std::uint64_t nc, std::uint64_t local, std::uint64_t nrows)
{
    const std::uint64_t period = n / std::gcd(n, nc);
    if (period >= nrows || period > max_kept_entries / (ways * local)) return 1;
    return period;
}

// The barycentric weights of the reference nodes at a local coordinate.
struct LocalWeights {
    const std::vector<double>& node;
    const std::vector<double>& weight;
    std::vector<double>& value;  // scratch for one row

    // Writes the places l and values of the row's entries, exact zeros left
    // out (a NaN compares unequal to 0.0 and is kept), and returns their number.
    std::uint64_t entries(double xi, std::uint64_t* places, double* values) const
    {
        const std::uint64_t p = node.size() - 1;
        std::uint64_t hit = 0;
        while (hit <= p && !(std::fabs(xi - node[hit]) < node_hit_tolerance)) ++hit;
        if (hit <= p) {
            places[0] = hit;
            values[0] = 1.0;
            return 1;
        }
        double sum = 0.0;
        for (std::uint64_t k = 0; k <= p; ++k) {
            value[k] = weight[k] / (xi - node[k]);
            sum = sum + value[k];
        }
        std::uint64_t count = 0;
        for (std::uint64_t k = 0; k <= p; ++k) {
            const double v = value[k] / sum;  // divide: 1/sum would differ
            if (v != 0.0) {
                places[count] = k;
                values[count] = v;
                ++count;
            }
        }
        return count;
    }
};

// A row's entries depend on its local coordinate xi alone, and in exact
// arithmetic xi repeats every `period` rows; in doubles it comes out as one of
// a few roundings. So each slot of the period keeps the entries of its last
// `ways` different xi, and a row whose xi has the same bits as one of them
// takes its entries instead of recomputing: the same bits by construction.
// The way that served a slot last is tried first; it nearly always serves again.
// Each way keeps p + 1 places l (columns j p + l, in the index type) and
// values, of which its count are the row's.
template <class Index>
class RowCache {
public:
    RowCache(std::uint64_t period, std::uint64_t local, const LocalWeights& weights)
        : local_(local),
          weights_(weights),
          key_(reserved_vector<std::uint64_t>(checked_mul(period, ways))),
          count_(reserved_vector<std::uint64_t>(period * ways)),
          places_(reserved_vector<Index>(checked_mul(period * ways, local))),
          values_(reserved_vector<double>(period * ways * local)),
          scratch_places_(reserved_vector<std::uint64_t>(local)),
          last_(reserved_vector<std::uint64_t>(period)),
          next_(reserved_vector<std::uint64_t>(period))
    {
        key_.resize(period * ways, no_key);
        count_.resize(period * ways);
        places_.resize(period * ways * local);
        values_.resize(period * ways * local);
        scratch_places_.resize(local);
        last_.resize(period);
        for (std::uint64_t slot = 0; slot < period; ++slot) last_[slot] = slot * ways;
        next_.resize(period);
    }

    // The way that holds the row of local coordinate xi in `slot`.
    std::uint64_t way(std::uint64_t slot, double xi)
    {
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(xi);
        const std::uint64_t last = last_[slot];
        if (key_[last] == bits) [[likely]]
            return last;
        return other_way(slot, xi, bits);
    }

    std::uint64_t count(std::uint64_t way) const noexcept { return count_[way]; }
    const Index* places(std::uint64_t way) const noexcept { return places_.data() + way * local_; }
    const double* values(std::uint64_t way) const noexcept { return values_.data() + way * local_; }

private:
    std::uint64_t other_way(std::uint64_t slot, double xi, std::uint64_t bits)
    {
        const std::uint64_t first_way = slot * ways;
        std::uint64_t way = first_way;
        while (way < first_way + ways && key_[way] != bits) ++way;
        if (way == first_way + ways) {
            way = first_way + next_[slot];  // replaced round robin
            next_[slot] = (next_[slot] + 1) % ways;
            count_[way] = weights_.entries(xi, scratch_places_.data(), values_.data() + way * local_);
            Index* const places = places_.data() + way * local_;
            for (std::uint64_t e = 0; e < count_[way]; ++e) places[e] = static_cast<Index>(scratch_places_[e]);
            key_[way] = bits;
        }
        last_[slot] = way;
        return way;
    }

    std::uint64_t local_;
    const LocalWeights& weights_;
    std::vector<std::uint64_t> key_;
    std::vector<std::uint64_t> count_;
    std::vector<Index> places_;
    std::vector<double> values_;
    std::vector<std::uint64_t> scratch_places_;
    std::vector<std::uint64_t> last_;  // the way that served each slot last
    std::vector<std::uint64_t> next_;  // the way each slot replaces next
};

// Where fine row i lies: its coarse sub-interval j and local coordinate xi.
struct RowPlace {
    std::uint64_t j;
    double xi;
};

// The rows' places, with every step in the operand order the bits depend on.
// Below 2^62 every row number, floor and sub-interval converts through int64,
// which x86 does in one instruction each way (the unsigned forms branch),
// with the same values: conversions round alike, and a floor below 2^63
// truncates alike.
template <bool small>
RowPlace row_place(std::uint64_t i, double dn, double dnc, std::uint64_t nc) noexcept
{
    double s;
    std::uint64_t j;
    double left;
    if constexpr (small) {
        s = (static_cast<double>(static_cast<std::int64_t>(i)) / dn) * dnc;
        const auto floor = static_cast<std::uint64_t>(static_cast<std::int64_t>(s));  // s >= 0
        j = floor < nc ? floor : nc - 1;
        left = static_cast<double>(static_cast<std::int64_t>(j));
    } else {
        s = coarse_position(i, dn, dnc);
        j = coarse_interval(s, nc);
        left = static_cast<double>(j);
    }
    const double d = s - left;
    return {j, (d + d) + (-1.0)};
}

// Rows are placed a block at a time before any is written: the placing is
// arithmetic alone (a division, conversions), so a block of it pipelines,
// and the writing loop then has no division on its path.
constexpr std::uint64_t row_block = 256;

// How a block of rows is placed: every row number, floor and sub-interval
// below 2^31 (int32 conversions, which vectorise), below 2^62 (int64 ones),
// or beyond (the unsigned forms).
enum class Placing { narrow, small, large };

// row_place for the rows first, ..., first + n - 1 (n <= row_block), all
// below 2^31 as nc is. Clamping s to nc - 1 before the floor picks the same
// sub-interval as clamping the floor: nc - 1 is a double exactly.
ZELK_KERNEL void place_narrow_rows(std::int32_t first, std::int32_t n, double dn, double dnc, double last,
                                   std::int32_t* j, double* xi)
{
    for (std::int32_t r = 0; r < n; ++r) {
        const double s = (static_cast<double>(first + r) / dn) * dnc;
        const double clamped = s < last ? s : last;
        const auto floor = static_cast<std::int32_t>(clamped);  // s >= 0
        j[r] = floor;
        const double d = s - static_cast<double>(floor);
        xi[r] = (d + d) + (-1.0);
    }
}

// The places of a block of rows, from row first on, as Placing says.
template <Placing placing>
struct BlockPlaces {
    using Interval = std::conditional_t<placing == Placing::narrow, std::int32_t, std::uint64_t>;
    Interval j[row_block];
    double xi[row_block];

    void place(std::uint64_t first, std::uint64_t n, double dn, double dnc, std::uint64_t nc)
    {
        if constexpr (placing == Placing::narrow) {
            run_vectorized<place_narrow_rows>(static_cast<std::int32_t>(first), static_cast<std::int32_t>(n), dn, dnc,
                                              static_cast<double>(nc - 1), j, xi);
        } else {
            for (std::uint64_t r = 0; r < n; ++r) {
                const RowPlace at = row_place<placing == Placing::small>(first + r, dn, dnc, nc);
                j[r] = at.j;
                xi[r] = at.xi;
            }
        }
    }
};

// For rows of a fixed width: the entries that served each slot last, copied
// slot by slot, so that a row whose xi has their bits reads them in slot
// order at a fixed stride, without going through the cache's ways.
template <std::uint64_t width, class Index>
class HotSlots {
public:
    explicit HotSlots(std::uint64_t period)
        : key_(reserved_vector<std::uint64_t>(period)),
          count_(reserved_vector<std::uint64_t>(period)),
          places_(reserved_vector<Index>(checked_mul(period, width))),
          values_(reserved_vector<double>(period * width))
    {
        key_.resize(period, no_key);
        count_.resize(period);
        places_.resize(period * width);
        values_.resize(period * width);
    }

    // Copies the entries of the row of local coordinate xi in `slot` from the cache.
    void refresh(RowCache<Index>& cache, std::uint64_t slot, double xi)
    {
        const std::uint64_t way = cache.way(slot, xi);
        key_[slot] = std::bit_cast<std::uint64_t>(xi);
        count_[slot] = cache.count(way);
        std::copy_n(cache.places(way), width, places_.data() + slot * width);
        std::copy_n(cache.values(way), width, values_.data() + slot * width);
    }

    const std::uint64_t* keys() const noexcept { return key_.data(); }
    const std::uint64_t* counts() const noexcept { return count_.data(); }
    const Index* places() const noexcept { return places_.data(); }
    const double* values() const noexcept { return values_.data(); }

private:
    std::vector<std::uint64_t> key_;
    std::vector<std::uint64_t> count_;
    std::vector<Index> places_;
    std::vector<double> values_;
};

// The row loop for rows of `width` = p + 1 places, 0 when p is not one of the
// few compiled in. All p + 1 places of a kept row are copied, also those
// beyond a shorter row: the next row writes over them, and up to any row
// there is room for p + 1 entries a row. A fixed count makes the copy straight
// code, from the slot's hot entries; typed stores (not memcpy) let the
// compiler keep the pointers in registers, which a byte copy could overwrite.
template <std::uint64_t width, Placing placing, class Index>
std::uint64_t fill_rows(const ProlongationShape& shape, RowCache<Index>& cache, std::uint64_t period,
                        const CsrRows<Index>& out)
{
    const std::uint64_t p = shape.degree;
    const std::uint64_t nc = shape.nt_coarse;
    const double dn = static_cast<double>(shape.nt_fine * p);
    const double dnc = static_cast<double>(nc);
    Index* const offsets = out.offsets.data();
    Index* const columns = out.col_indices.data();
    double* const values = out.values.data();
    InterruptCountdown countdown;
    std::uint64_t slot = shape.first_row % period;
    std::uint64_t nnz = 0;
    offsets[0] = 0;
    BlockPlaces<placing> at;
    HotSlots<width == 0 ? 1 : width, Index> hot(width == 0 ? 0 : period);
    for (std::uint64_t r0 = 0; r0 < shape.nrows; r0 += row_block) {
        const std::uint64_t n = std::min(row_block, shape.nrows - r0);
        countdown.tick(n * (p + 1));
        const std::uint64_t first_row = shape.first_row + r0;
        at.place(first_row, n, dn, dnc, nc);
        if constexpr (width != 0) {
            const std::uint64_t* const hot_key = hot.keys();
            const std::uint64_t* const hot_count = hot.counts();
            const Index* const hot_places = hot.places();
            const double* const hot_values = hot.values();
            for (std::uint64_t r = 0; r < n; ++r) {
                const double xi = at.xi[r];
                if (hot_key[slot] != std::bit_cast<std::uint64_t>(xi)) [[unlikely]]
                    hot.refresh(cache, slot, xi);
                // Columns come in ascending order without repeats: the row is final as written.
                const auto first = static_cast<Index>(static_cast<std::uint64_t>(at.j[r]) * p);
                const Index* const places = hot_places + slot * width;
                const double* const kept = hot_values + slot * width;
                Index moved[width];
                double copied[width];
                for (std::uint64_t e = 0; e < width; ++e) moved[e] = static_cast<Index>(first + places[e]);
                for (std::uint64_t e = 0; e < width; ++e) copied[e] = kept[e];
                Index* const column = columns + nnz;
                double* const value = values + nnz;
                for (std::uint64_t e = 0; e < width; ++e) column[e] = moved[e];
                for (std::uint64_t e = 0; e < width; ++e) value[e] = copied[e];
                nnz += hot_count[slot];
                offsets[r0 + r + 1] = static_cast<Index>(nnz);
                if (++slot == period) slot = 0;
            }
            continue;
        }
        for (std::uint64_t r = 0; r < n; ++r) {
            const std::uint64_t way = cache.way(slot, at.xi[r]);
            // Columns come in ascending order without repeats: the row is final as written.
            const auto first = static_cast<Index>(static_cast<std::uint64_t>(at.j[r]) * p);
            const Index* const places = cache.places(way);
            const double* const kept = cache.values(way);
            Index* const column = columns + nnz;
            double* const value = values + nnz;
            const std::uint64_t count = cache.count(way);
            for (std::uint64_t e = 0; e < count; ++e) {
                column[e] = static_cast<Index>(first + places[e]);
                value[e] = kept[e];
            }
            nnz += count;
            offsets[r0 + r + 1] = static_cast<Index>(nnz);
            if (++slot == period) slot = 0;
        }
    }
    return nnz;
}

template <Placing placing, class Index>
std::uint64_t fill_rows(const ProlongationShape& shape, RowCache<Index>& cache, std::uint64_t period,
                        const CsrRows<Index>& out)
{
    switch (shape.degree) {
        case 1: return fill_rows<2, placing>(shape, cache, period, out);
        case 2: return fill_rows<3, placing>(shape, cache, period, out);
        case 3: return fill_rows<4, placing>(shape, cache, period, out);
        case 4: return fill_rows<5, placing>(shape, cache, period, out);
        default: return fill_rows<0, placing>(shape, cache, period, out);
    }
}

}  // namespace

ProlongationShape prolongation_shape(std::uint64_t degree, std::uint64_t nt_coarse, std::uint64_t nt_fine)
{
    return prolongation_shape(degree, nt_coarse, nt_fine, 0, nt_fine);
}

ProlongationShape prolongation_shape(std::uint64_t degree, std::uint64_t nt_coarse, std::uint64_t nt_fine,
                                     std::uint64_t k_begin, std::uint64_t k_end)
{
    if (degree == 0) fail("Lagrange prolongation requires polynomial degree at least 1");
    if (nt_coarse == 0) fail("Lagrange prolongation requires at least one coarse interval");
    if (nt_fine == 0) fail("Lagrange prolongation requires at least one fine interval");
    if (!(k_begin <= k_end && k_end <= nt_fine)) fail("Lagrange prolongation rows beyond the fine grid");
    // Every global row number must fit, whichever rows are asked for.
    checked_add(checked_mul(nt_fine, degree), 1);
    const std::uint64_t first_row = k_begin * degree;
    // The end point belongs to the last sub-interval, and so to no empty range.
    const std::uint64_t nrows = (k_end - k_begin) * degree + (k_begin < k_end && k_end == nt_fine ? 1 : 0);
    const std::uint64_t ncols = checked_add(checked_mul(nt_coarse, degree), 1);
    // At most p + 1 entries per row.
    const std::uint64_t max_nnz = checked_mul(nrows, checked_add(degree, 1));
    return {degree, nt_coarse, nt_fine, first_row, nrows, ncols, max_nnz};
}

std::pair<std::uint64_t, std::uint64_t> prolongation_columns(const ProlongationShape& shape)
{
    const std::uint64_t first = coarse_interval(shape, shape.first_row) * shape.degree;
    if (shape.nrows == 0) return {first, first};
    const std::uint64_t last = coarse_interval(shape, shape.first_row + shape.nrows - 1) * shape.degree;
    return {first, last + shape.degree + 1};
}

template <class Index>
std::uint64_t fill_prolongation_rows(const ProlongationShape& shape, const CsrRows<Index>& out)
{
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    const std::uint64_t p = shape.degree;
    const std::uint64_t nc = shape.nt_coarse;
    const std::uint64_t n = shape.nt_fine * p;  // the last fine row
    const std::uint64_t local = p + 1;

    // Reference nodes r_k on [-1, 1] (the Lagrange point formula with
    // a = -1, b = 1, now including k = p) and their barycentric weights.
    std::vector<double> node = reserved_vector<double>(local);
    const double dp = static_cast<double>(p);
    for (std::uint64_t k = 0; k <= p; ++k) node.push_back(-1.0 + ((1.0 - (-1.0)) * static_cast<double>(k)) / dp);
    std::vector<double> weight = reserved_vector<double>(local);
    InterruptCountdown countdown;  // every loop below costs O(p) per step
    for (std::uint64_t k = 0; k <= p; ++k) {
        countdown.tick(local);
        double product = 1.0;
        for (std::uint64_t m = 0; m <= p; ++m) {
            if (m != k) product = product * (node[k] - node[m]);
        }
        weight.push_back(1.0 / product);
    }

    // Rows repeat their local coordinates every `period` rows (RowCache); a
    // period too long to keep gets one slot.
    const std::uint64_t period = repeat_period(n, nc, local, shape.nrows);
    std::vector<double> scratch = reserved_vector<double>(local);
    scratch.resize(local);
    const LocalWeights weights{node, weight, scratch};

    RowCache<Index> cache(period, local, weights);
    if (n < (std::uint64_t{1} << 31) && nc < (std::uint64_t{1} << 31))
        return fill_rows<Placing::narrow>(shape, cache, period, out);
    if (n < (std::uint64_t{1} << 62) && nc < (std::uint64_t{1} << 62))
        return fill_rows<Placing::small>(shape, cache, period, out);
    return fill_rows<Placing::large>(shape, cache, period, out);
}

template std::uint64_t fill_prolongation_rows(const ProlongationShape&, const CsrRows<std::uint64_t>&);
template std::uint64_t fill_prolongation_rows(const ProlongationShape&, const CsrRows<std::int32_t>&);
template std::uint64_t fill_prolongation_rows(const ProlongationShape&, const CsrRows<std::int64_t>&);

CsrMatrix lagrange_prolongation(std::uint64_t degree, std::uint64_t nt_coarse, std::uint64_t nt_fine)
{
    const ProlongationShape shape = prolongation_shape(degree, nt_coarse, nt_fine);
    // All storage must fit before the O(p^2) weights or any row is computed.
    return linear_algebra::csr_filled_by(shape.nrows, shape.ncols, shape.max_nnz, "prolongation",
                                         [&](const CsrRows<std::uint64_t>& rows) {
        return fill_prolongation_rows<std::uint64_t>(shape, rows);
    });
}

CsrMatrix LagrangeBasis::get_prolongation_matrix_to(std::uint64_t nt_fine) const
{
    return lagrange_prolongation(degree, n_t, nt_fine);
}

}  // namespace zelk::piecewise_polynomials
