// General time operator rows: each row's entries gathered from its (at most two) shares, merged, rounded once.
#include "time_operators/general_operator_rows.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <optional>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/interval_blocks.hpp"
#include "time_operators/quadrature_rules.hpp"
#include "time_operators/reference_integrals.hpp"
#include "time_operators/rule_node_blocks.hpp"
#include "time_operators/scaled_terms.hpp"
#include "time_operators/split_product.hpp"

namespace zelk::time_operators {

using linear_algebra::CsrRows;

std::vector<DoubleDouble> family_nodes(std::uint64_t family, std::uint64_t count)
{
    if (family == 0) {
        if (count < 2) fail("equispaced nodes need at least two");
        std::vector<DoubleDouble> nodes = reserved_vector<DoubleDouble>(count);
        const DoubleDouble p = DoubleDouble::from_u64(count - 1);
        for (std::uint64_t j = 0; j < count; ++j)
            nodes.push_back(DoubleDouble::from_u64(2 * j) / p - DoubleDouble(1.0));
        return nodes;
    }
    if (family > 4) fail("unknown node family");
    return reference_rule(static_cast<QuadratureRule>(family - 1), count).nodes;
}

namespace {

std::uint64_t functions(const SpaceBasis& s)
{
    return s.degree + 1;
}

std::uint64_t dimension(const SpaceBasis& s, std::uint64_t n_t)
{
    if (s.kind == BasisKind::lagrange && s.continuous) return checked_add(checked_mul(n_t, s.degree), 1);
    return checked_mul(n_t, checked_add(s.degree, 1));
}

std::uint64_t global(const SpaceBasis& s, std::uint64_t n_t, std::uint64_t k, std::uint64_t j)
{
    if (s.kind == BasisKind::lagrange) return s.continuous ? k * s.degree + j : k * (s.degree + 1) + j;
    return s.interval_major ? k * (s.degree + 1) + j : j * n_t + k;
}

// Values and x-derivatives of the basis at x.
void values_at(const SpaceBasis& s, DoubleDouble x, std::vector<DoubleDouble>& v, std::vector<DoubleDouble>& dv)
{
    const std::uint64_t n = functions(s);
    if (s.kind == BasisKind::legendre) {
        legendre_values(x, v, dv);
        return;
    }
    for (std::uint64_t j = 0; j < n; ++j) {
        DoubleDouble denominator = 1.0;
        DoubleDouble product = 1.0;
        DoubleDouble slope = 0.0;
        for (std::uint64_t m = 0; m < n; ++m) {
            if (m == j) continue;
            denominator *= s.nodes[j] - s.nodes[m];
            DoubleDouble others = 1.0;  // the product without factors j and m
            for (std::uint64_t l = 0; l < n; ++l) {
                if (l != j && l != m) others *= x - s.nodes[l];
            }
            slope += others;
            product *= x - s.nodes[m];
        }
        v[j] = product / denominator;
        dv[j] = slope / denominator;
    }
}

// values_at's values alone, in O(n^2): the same products in the same order, so the same bits.
void lagrange_values_only(const SpaceBasis& s, DoubleDouble x, std::vector<DoubleDouble>& v)
{
    const std::uint64_t n = functions(s);
    for (std::uint64_t j = 0; j < n; ++j) {
        DoubleDouble denominator = 1.0;
        DoubleDouble product = 1.0;
        for (std::uint64_t m = 0; m < n; ++m) {
            if (m == j) continue;
            denominator *= s.nodes[j] - s.nodes[m];
            product *= x - s.nodes[m];
        }
        v[j] = product / denominator;
    }
}

// The basis at -1 or 1: from its rule where it has one, else as values_at gives it.
void end_values_at(const SpaceBasis& s, const std::optional<RuleBasis>& rule, bool right, std::vector<DoubleDouble>& v)
{
    if (rule.has_value()) {
        v = right ? rule->right : rule->left;
    } else if (s.kind == BasisKind::legendre) {
        std::vector<DoubleDouble> slopes(v.size());
        legendre_values(DoubleDouble(right ? 1.0 : -1.0), v, slopes);
    } else {
        lagrange_values_only(s, DoubleDouble(right ? 1.0 : -1.0), v);
    }
}

// Two Lagrange bases on the same nodes, bit for bit.
bool same_nodes(const SpaceBasis& a, const SpaceBasis& b)
{
    if (a.kind != BasisKind::lagrange || b.kind != BasisKind::lagrange || a.nodes.size() != b.nodes.size())
        return false;
    for (std::size_t j = 0; j < a.nodes.size(); ++j) {
        if (std::bit_cast<std::uint64_t>(a.nodes[j].hi) != std::bit_cast<std::uint64_t>(b.nodes[j].hi) ||
            std::bit_cast<std::uint64_t>(a.nodes[j].lo) != std::bit_cast<std::uint64_t>(b.nodes[j].lo))
            return false;
    }
    return true;
}

struct Entry {
    std::uint64_t column;
    DoubleDouble value;
    DoubleDouble magnitude;
};

class GeneralRows {
public:
    GeneralRows(const GeneralShape& shape, const SpaceBasis& trial, const SpaceBasis& test,
                std::span<const double> points)
        : shape_(shape), trial_(trial), test_(test), points_(points), na_(functions(test)), nb_(functions(trial))
    {
        const std::uint64_t entries = checked_mul(na_, nb_);
        block_ = reserved_vector<DoubleDouble>(entries);
        block_.resize(entries);
        magnitude_ = block_;
        std::optional<RuleBasis> trial_rule;
        std::optional<RuleBasis> test_rule;
        if (std::max(trial.degree, test.degree) >= rule_structure_degree) {
            trial_rule = rule_basis(trial);
            test_rule = same_nodes(trial, test) ? trial_rule : rule_basis(test);
        }
        const bool derivative = shape.op == TimeOperator::derivative;
        // The jump's rows read the end values alone.
        if (shape.op != TimeOperator::jump) {
            const bool ruled = (trial_rule.has_value() || test_rule.has_value()) &&
                               rule_block(derivative, trial, trial_rule ? &*trial_rule : nullptr, test,
                                          test_rule ? &*test_rule : nullptr, block_, magnitude_);
            if (!ruled) gauss_sums(derivative);
        }
        test_left_.resize(na_);
        trial_left_.resize(nb_);
        trial_right_.resize(nb_);
        end_values_at(test, test_rule, false, test_left_);
        end_values_at(trial, trial_rule, false, trial_left_);
        end_values_at(trial, trial_rule, true, trial_right_);
        row_ = reserved_vector<Entry>(checked_mul(4, nb_));
    }

    struct Share {
        std::uint64_t k;
        std::uint64_t a;
    };

    // Calls emit(k, shares, count) for each row of the range in global order,
    // k the sub-interval of its last share.
    template <class Emit>
    void rows(Emit&& emit)
    {
        const std::uint64_t n_t = shape_.n_t;
        if (test_.kind == BasisKind::legendre && !test_.interval_major) {
            for (std::uint64_t i = 0; i < na_; ++i) {
                for (std::uint64_t k = shape_.k_begin; k < shape_.k_end; ++k) {
                    const Share one[1] = {{k, i}};
                    emit(k, one, 1);
                }
            }
            return;
        }
        const bool shared = test_.kind == BasisKind::lagrange && test_.continuous;
        const std::uint64_t p = test_.degree;
        for (std::uint64_t k = shape_.k_begin; k < shape_.k_end; ++k) {
            for (std::uint64_t j = 0; j < (shared ? p : na_); ++j) {
                if (shared && j == 0 && k > 0) {
                    const Share two[2] = {{k - 1, p}, {k, 0}};
                    emit(k, two, 2);
                } else {
                    const Share one[1] = {{k, j}};
                    emit(k, one, 1);
                }
            }
        }
        if (shared && shape_.k_begin < shape_.k_end && shape_.k_end == n_t) {
            const Share one[1] = {{n_t - 1, p}};
            emit(n_t - 1, one, 1);
        }
    }

    // The step of sub-interval k as the mass entries take it (IntervalBlocks' StepSum::difference).
    DoubleDouble step(std::uint64_t k) const { return DoubleDouble(points_[k + 1]) - points_[k]; }
    const double* points() const noexcept { return points_.data(); }

    // The row's entries, merged by column, unrounded.
    const std::vector<Entry>& row(const Share* shares, std::uint64_t count)
    {
        row_.clear();
        const std::uint64_t n_t = shape_.n_t;
        for (const Share* share = shares; share != shares + count; ++share) {
            const Share& s = *share;
            const std::uint64_t base = s.a * nb_;
            switch (shape_.op) {
                case TimeOperator::mass: {
                    const DoubleDouble h = step(s.k);
                    for (std::uint64_t b = 0; b < nb_; ++b)
                        row_.push_back({global(trial_, n_t, s.k, b), block_[base + b] * h, magnitude_[base + b] * h});
                    break;
                }
                case TimeOperator::derivative:
                    for (std::uint64_t b = 0; b < nb_; ++b)
                        row_.push_back({global(trial_, n_t, s.k, b), block_[base + b], magnitude_[base + b]});
                    break;
                case TimeOperator::jump:
                    for (std::uint64_t b = 0; b < nb_; ++b) {
                        const DoubleDouble own = test_left_[s.a] * trial_left_[b];
                        row_.push_back({global(trial_, n_t, s.k, b), own, abs(own)});
                        if (s.k > 0) {
                            const DoubleDouble upwind = -(test_left_[s.a] * trial_right_[b]);
                            row_.push_back({global(trial_, n_t, s.k - 1, b), upwind, abs(upwind)});
                        }
                    }
                    break;
            }
        }
        std::sort(row_.begin(), row_.end(), [](const Entry& x, const Entry& y) { return x.column < y.column; });
        // Merge the shares of a shared trial node; keep only what is not exactly zero.
        std::uint64_t kept = 0;
        for (std::uint64_t e = 0; e < row_.size(); ++e) {
            if (kept > 0 && row_[kept - 1].column == row_[e].column) {
                row_[kept - 1].value += row_[e].value;
                row_[kept - 1].magnitude += row_[e].magnitude;
            } else {
                row_[kept++] = row_[e];
            }
        }
        row_.resize(kept);
        return row_;
    }

    // How far a row's columns move when its sub-interval moves by one.
    std::uint64_t column_step() const noexcept
    {
        if (trial_.kind == BasisKind::lagrange) return trial_.continuous ? trial_.degree : trial_.degree + 1;
        return trial_.interval_major ? trial_.degree + 1 : 1;
    }

    // Entry (a, b) of the reference block and the sum of its terms' magnitudes, unrounded.
    const DoubleDouble& block(std::uint64_t a, std::uint64_t b) const noexcept { return block_[a * nb_ + b]; }
    const DoubleDouble& magnitude(std::uint64_t a, std::uint64_t b) const noexcept { return magnitude_[a * nb_ + b]; }

    std::uint64_t global_column(std::uint64_t k, std::uint64_t b) const noexcept
    {
        return global(trial_, shape_.n_t, k, b);
    }

    std::uint64_t test_functions() const noexcept { return na_; }
    std::uint64_t trial_functions() const noexcept { return nb_; }

private:
    // The block as sums over a Gauss rule exact for every product.
    void gauss_sums(bool derivative)
    {
        const std::uint64_t n = checked_add(trial_.degree, test_.degree) / 2 + 1;  // Gauss: exact to 2n - 1
        const ReferenceRule rule = reference_rule(QuadratureRule::gauss, n);
        std::vector<DoubleDouble> u = block_;  // sized below; the block's storage is reserved already
        u.assign(nb_, DoubleDouble(0.0));
        std::vector<DoubleDouble> du = u;
        std::vector<DoubleDouble> v(na_);
        std::vector<DoubleDouble> dv(na_);
        for (std::uint64_t q = 0; q < n; ++q) {
            values_at(trial_, rule.nodes[q], u, du);
            values_at(test_, rule.nodes[q], v, dv);
            for (std::uint64_t a = 0; a < na_; ++a) {
                // Mass: half the integral (dt = h dx / 2); derivative: d/dt dt = d/dx dx.
                const DoubleDouble wv = rule.weights[q] * v[a] * (derivative ? 1.0 : 0.5);
                for (std::uint64_t b = 0; b < nb_; ++b) {
                    const DoubleDouble term = wv * (derivative ? du[b] : u[b]);
                    block_[a * nb_ + b] += term;
                    magnitude_[a * nb_ + b] += abs(term);
                }
            }
        }
        // Entries that degree makes zero: a Legendre test polynomial above the
        // degree of the trial function (of its derivative), and for the mass a
        // Legendre trial polynomial above the test degree. Where that
        // polynomial is P_n, the rule's points are its roots: every term is of
        // rounding size, and so is their sum, which its magnitude cannot tell
        // from a value. Set exactly.
        const std::uint64_t f_degree = derivative ? trial_.degree - (trial_.degree > 0 ? 1 : 0) : trial_.degree;
        for (std::uint64_t a = 0; a < na_; ++a) {
            for (std::uint64_t b = 0; b < nb_; ++b) {
                const bool zero = (derivative && trial_.degree == 0) ||
                                  (test_.kind == BasisKind::legendre && a > f_degree) ||
                                  (!derivative && trial_.kind == BasisKind::legendre && b > test_.degree);
                if (zero) {
                    block_[a * nb_ + b] = 0.0;
                    magnitude_[a * nb_ + b] = 0.0;
                }
            }
        }
    }

    const GeneralShape& shape_;
    const SpaceBasis& trial_;
    const SpaceBasis& test_;
    std::span<const double> points_;
    std::uint64_t na_;
    std::uint64_t nb_;
    std::vector<DoubleDouble> block_;
    std::vector<DoubleDouble> magnitude_;
    std::vector<DoubleDouble> test_left_;
    std::vector<DoubleDouble> trial_left_;
    std::vector<DoubleDouble> trial_right_;
    std::vector<Entry> row_;
};

// A row rounded: columns relative to k column_step (a share on k - 1 gives
// negative ones, kept in two's complement), exact zeros left out.
struct RoundedRow {
    std::uint64_t count = 0;
    std::int64_t* columns = nullptr;
    double* values = nullptr;
};

// Writes a row at nnz with its relative columns moved to base (relative columns and k steps stay within the
// trial space: no wrap-around), closes row r + 1 in the offsets and returns the new nnz. Inlined: the fills
// call it once per row.
template <class Index>
[[gnu::always_inline]] inline std::uint64_t append_row(const RoundedRow& row, std::uint64_t base,
                                                       const CsrRows<Index>& out, std::uint64_t nnz, std::uint64_t& r)
{
    Index* const columns = out.col_indices.data() + nnz;
    double* const values = out.values.data() + nnz;
    for (std::uint64_t e = 0; e < row.count; ++e) {
        columns[e] = static_cast<Index>(base + static_cast<std::uint64_t>(row.columns[e]));
        values[e] = row.values[e];
    }
    nnz += row.count;
    out.offsets[++r] = static_cast<Index>(nnz);
    return nnz;
}

// Rows rounded once and kept. From k = 2 on, a row's shares, columns and
// upwind terms are those of any other k moved by k column_step, so its
// entries depend on the kind of row alone, and for the mass matrix on the
// bits of the steps it scales by: a row with the kind and the step bits of a
// kept one takes its entries, the same bits by construction. A kind keeps
// `ways` rows of different steps (uniform grids have a few), the slot chosen
// by the steps' bits.
class RoundedRows {
public:
    RoundedRows(GeneralRows& rows, bool by_steps)
        : rows_(rows),
          by_steps_(by_steps),
          width_(checked_mul(4, rows.trial_functions())),
          kinds_(rows.test_functions() + 1),
          ways_(by_steps
                    ? std::bit_floor(std::clamp<std::uint64_t>(kept_entries / checked_mul(kinds_, width_), 1, max_ways))
                    : 1),
          scratch_(checked_mul(kinds_, ways_)),
          key_(reserved_vector<Key>(scratch_)),
          count_(reserved_vector<std::uint64_t>(scratch_)),
          columns_(reserved_vector<std::int64_t>(checked_mul(scratch_ + 1, width_))),
          values_(reserved_vector<double>((scratch_ + 1) * width_))
    {
        key_.resize(scratch_);
        count_.resize(scratch_);
        if (by_steps) {
            const std::uint64_t nb = rows.trial_functions();
            zero_ = reserved_vector<unsigned char>(checked_mul(rows.test_functions(), nb));
            for (std::uint64_t a = 0; a < rows.test_functions(); ++a) {
                for (std::uint64_t b = 0; b < nb; ++b)
                    zero_.push_back(static_cast<unsigned char>(zero_class(rows.block(a, b), rows.magnitude(a, b))));
            }
            split_block_ = reserved_vector<SplitDoubleDouble>(zero_.size());
            block_splits_ = reserved_vector<unsigned char>(zero_.size());
            for (std::uint64_t a = 0; a < rows.test_functions(); ++a) {
                for (std::uint64_t b = 0; b < nb; ++b) {
                    split_block_.emplace_back(rows.block(a, b));
                    block_splits_.push_back(within_split_range(rows.block(a, b).hi) ? 1 : 0);
                }
            }
        }
        columns_.resize((scratch_ + 1) * width_);
        values_.resize((scratch_ + 1) * width_);
    }

    // The rounded entries of the row of `count` shares whose last is on sub-interval k.
    const RoundedRow& row(std::uint64_t k, const GeneralRows::Share* shares, std::uint64_t count)
    {
        if (by_steps_ && count == 1) return scaled_row(k, shares[0]);
        if (k < 2) return build(k, shares, count, scratch_);  // no upwind term on sub-interval 0: rows of their own
        Key key{true, {0, 0, 0, 0}};
        if (by_steps_) {
            for (std::uint64_t c = 0; c < count; ++c) {
                const DoubleDouble h = rows_.step(shares[c].k);
                key.bits[2 * c] = std::bit_cast<std::uint64_t>(h.hi);
                key.bits[2 * c + 1] = std::bit_cast<std::uint64_t>(h.lo);
            }
        }
        const std::uint64_t kind = count == 2 ? kinds_ - 1 : shares[0].a;
        std::uint64_t hash = 0;
        for (const std::uint64_t b : key.bits) hash = (hash ^ b) * 0x9e3779b97f4a7c15ULL;
        const std::uint64_t slot = kind * ways_ + ((hash >> 32) & (ways_ - 1));  // ways_: a power of two
        if (key_[slot] == key) {
            current_ = {count_[slot], columns_.data() + slot * width_, values_.data() + slot * width_};
            return current_;
        }
        key_[slot] = Key{};  // not valid while it is rebuilt
        build(k, shares, count, slot);
        count_[slot] = current_.count;
        key_[slot] = key;
        return current_;
    }

    // Whether the last row of one share a mass row took was a kept one.
    bool kept() const noexcept { return kept_; }

    // Where rounded_integral(block h, magnitude h) stands for any step h of
    // moderate size: a block entry of exactly 0, or one below 2^-92 of its
    // magnitude, stays zero; one above 2^-88 of it is rounded as it is (the
    // products by h err by 2^-50 at most, far less than the factors of 2 to
    // rounded_integral's 2^-90); others are tested as rounded_integral tests them.
    enum class Zero : unsigned char { always, never, tested };

    static Zero zero_class(const DoubleDouble& value, const DoubleDouble& magnitude) noexcept
    {
        const double v = std::fabs(value.hi);
        if (v == 0.0 && value.lo == 0.0) return Zero::always;
        // Far from both ends of the exponent range, so that neither product nor its 2^-90 underflows.
        if (v == 0.0 || !(magnitude.hi >= 0x1p-200 && magnitude.hi <= 0x1p200)) return Zero::tested;
        if (v <= magnitude.hi * 0x1p-92) return Zero::always;
        if (v >= magnitude.hi * 0x1p-88) return Zero::never;
        return Zero::tested;
    }

    // The pattern of a mass row of one share where the step cannot change it:
    // for h of moderate size, scaled() leaves out the Zero::always entries and
    // keeps the Zero::never ones (their products lie far inside the double
    // range), so a kind with no Zero::tested entry keeps the same columns,
    // relative to k column_step, for every such step. Null for other rows,
    // which take row(). Columns only: for counting.
    const RoundedRow* steady(const GeneralRows::Share& share, const DoubleDouble& h)
    {
        if (!by_steps_ || !(std::fabs(h.hi) >= 0x1p-500 && std::fabs(h.hi) <= 0x1p500)) return nullptr;
        const std::uint64_t nb = rows_.trial_functions();
        if (steady_.empty()) {
            steady_ = reserved_vector<SteadyPattern>(rows_.test_functions());
            for (std::uint64_t a = 0; a < rows_.test_functions(); ++a) {
                SteadyPattern& pattern = steady_.emplace_back();
                pattern.columns = reserved_vector<std::int64_t>(nb);
                for (std::uint64_t b = 0; b < nb; ++b) {
                    const auto kind = static_cast<Zero>(zero_[a * nb + b]);
                    pattern.steady = pattern.steady && kind != Zero::tested;
                    // Relative columns do not depend on k in any numbering: those of k = 0.
                    if (kind == Zero::never)
                        pattern.columns.push_back(static_cast<std::int64_t>(rows_.global_column(0, b)));
                }
            }
        }
        SteadyPattern& pattern = steady_[share.a];
        if (!pattern.steady) return nullptr;
        steady_row_ = {pattern.columns.size(), pattern.columns.data(), nullptr};
        return &steady_row_;
    }

    // A mass row of one share, formed afresh; h = rows.step(share.k), split once for the rows that share it.
    const RoundedRow& scaled_fresh(std::uint64_t k, const GeneralRows::Share& share, const DoubleDouble& h)
    {
        split(h);
        scaled(k, share, h, scratch_);
        return current_;
    }

    // Factors whose products split_product forms exactly as DoubleDouble's
    // product does (same splits, same operations): both within [2^-480, 2^480].
    static bool within_split_range(double x) noexcept
    {
        const double a = std::fabs(x);
        return a >= 0x1p-480 && a <= 0x1p480;
    }

private:
    void split(const DoubleDouble& h)
    {
        const std::uint64_t hi = std::bit_cast<std::uint64_t>(h.hi);
        const std::uint64_t lo = std::bit_cast<std::uint64_t>(h.lo);
        if (hi != step_key_.bits[0] || lo != step_key_.bits[1] || !step_key_.valid) {
            // The rows of a sub-interval share its step: split it once for them.
            step_key_ = Key{true, {hi, lo, 0, 0}};
            split_step_ = SplitDoubleDouble(h);
            step_splits_ = within_split_range(h.hi);
        }
    }

    // A mass row of one share, kept by its kind and step bits as the rows of
    // two shares are: on a uniform grid most rows take kept entries.
    const RoundedRow& scaled_row(std::uint64_t k, const GeneralRows::Share& share)
    {
        const DoubleDouble h = rows_.step(share.k);
        const Key key{true, {std::bit_cast<std::uint64_t>(h.hi), std::bit_cast<std::uint64_t>(h.lo), 0, 0}};
        std::uint64_t hash = 0;
        for (const std::uint64_t b : key.bits) hash = (hash ^ b) * 0x9e3779b97f4a7c15ULL;
        const std::uint64_t slot = share.a * ways_ + ((hash >> 32) & (ways_ - 1));
        kept_ = key_[slot] == key;
        if (kept_) {
            current_ = {count_[slot], columns_.data() + slot * width_, values_.data() + slot * width_};
            return current_;
        }
        split(h);
        key_[slot] = Key{};  // not valid while it is rebuilt
        scaled(k, share, h, slot);
        count_[slot] = current_.count;
        key_[slot] = key;
        return current_;
    }

    // A mass row of one share into `slot`: its entries in the order of b (their
    // columns ascend with b in every numbering), each the entry times h rounded
    // once, as build gives them without sorting or merging anything. Steps
    // whose products could underflow or overflow take every test as build does.
    void scaled(std::uint64_t k, const GeneralRows::Share& share, const DoubleDouble& h, std::uint64_t slot)
    {
        const bool moderate = std::fabs(h.hi) >= 0x1p-500 && std::fabs(h.hi) <= 0x1p500;
        const std::uint64_t nb = rows_.trial_functions();
        std::int64_t* const columns = columns_.data() + slot * width_;
        double* const values = values_.data() + slot * width_;
        const std::uint64_t base = k * rows_.column_step();
        const unsigned char* const zero = zero_.data() + share.a * nb;
        const SplitDoubleDouble* const split = split_block_.data() + share.a * nb;
        const unsigned char* const splits = block_splits_.data() + share.a * nb;
        std::uint64_t n = 0;
        for (std::uint64_t b = 0; b < nb; ++b) {
            const auto kind = static_cast<Zero>(zero[b]);
            if (moderate && kind == Zero::always) continue;
            const DoubleDouble sum = step_splits_ && splits[b] != 0 ? split_product(split[b], split_step_)
                                                                    : rows_.block(share.a, b) * h;
            double value;
            if (moderate && kind == Zero::never) {
                value = sum.to_double();
            } else {
                value = rounded_integral(sum, rows_.magnitude(share.a, b) * h);
            }
            if (value == 0.0) continue;
            columns[n] = static_cast<std::int64_t>(rows_.global_column(share.k, b) - base);
            values[n] = value;
            ++n;
        }
        current_ = {n, columns, values};
    }

    struct Key {
        bool valid = false;
        std::uint64_t bits[4] = {0, 0, 0, 0};
        bool operator==(const Key&) const = default;
    };

    // Rounds the row into `slot`'s storage.
    const RoundedRow& build(std::uint64_t k, const GeneralRows::Share* shares, std::uint64_t count, std::uint64_t slot)
    {
        const std::vector<Entry>& entries = rows_.row(shares, count);
        std::int64_t* const columns = columns_.data() + slot * width_;
        double* const values = values_.data() + slot * width_;
        const std::uint64_t base = k * rows_.column_step();
        std::uint64_t n = 0;
        for (const Entry& e : entries) {
            const double value = rounded_integral(e.value, e.magnitude);
            if (value == 0.0) continue;
            columns[n] = static_cast<std::int64_t>(e.column - base);
            values[n] = value;
            ++n;
        }
        current_ = {n, columns, values};
        return current_;
    }

    // Entries kept at most, over all kinds and ways: small enough to stay in cache.
    static constexpr std::uint64_t kept_entries = std::uint64_t{1} << 15;
    static constexpr std::uint64_t max_ways = 8;

    GeneralRows& rows_;
    bool by_steps_;
    std::uint64_t width_;
    std::uint64_t kinds_;
    std::uint64_t ways_;
    std::uint64_t scratch_;  // the slot after the kept ones: rows not kept
    std::vector<Key> key_;
    std::vector<std::uint64_t> count_;
    std::vector<std::int64_t> columns_;
    std::vector<double> values_;
    std::vector<unsigned char> zero_;             // Zero of each block entry, for the mass
    std::vector<SplitDoubleDouble> split_block_;  // the block entries split, for the mass
    std::vector<unsigned char> block_splits_;     // whether within_split_range
    Key step_key_;                                // the step last split, and its split
    SplitDoubleDouble split_step_{DoubleDouble(0.0)};
    bool step_splits_ = false;
    bool kept_ = false;
    RoundedRow current_;
    struct SteadyPattern {
        bool steady = true;
        std::vector<std::int64_t> columns;
    };
    std::vector<SteadyPattern> steady_;  // per kind, made at the first call of steady()
    RoundedRow steady_row_;
};

// The mass rows of one sub-interval from k = 2 on, with what RoundedRows
// decides per row settled once: the order of the entries (their columns
// sorted), which block entries stay zero, which pairs a shared trial
// function sums. Per sub-interval only the products and the writes remain,
// each the operations RoundedRows applies to that entry: a single product
// split_product(entry, step) rounded as it is (Zero::never: a step within the
// split range is moderate, so rounded_integral gives that double, and a
// nonzero one), a summed pair through DoubleDouble and rounded_integral as
// build() gives it. Not usable where an entry needs the zero test
// (Zero::tested); a sub-interval with a step outside the split range is left
// to RoundedRows.
class IntervalMassPattern {
public:
    IntervalMassPattern(const GeneralRows& rows, const SpaceBasis& test, std::uint64_t per_interval)
        : rows_(rows),
          shared_(test.kind == BasisKind::lagrange && test.continuous),
          row_ends_(reserved_vector<std::uint64_t>(per_interval)),
          terms_(reserved_vector<Term>(checked_mul(per_interval, checked_mul(2, rows.trial_functions())))),
          scaled_(terms_.capacity()),
          runs_(reserved_vector<Run>(terms_.capacity())),
          row_terms_(reserved_vector<std::uint64_t>(per_interval)),
          flat_runs_(reserved_vector<Run>(runs_.capacity())),
          blocks_(StepSum::difference, rows.column_step(), terms_.capacity(), shared_)
    {
        const std::uint64_t nb = rows.trial_functions();
        const std::uint64_t k = 2;  // any k >= 2: the columns move by column_step alone
        const std::uint64_t base = k * rows.column_step();
        struct Item {
            std::uint64_t column;
            unsigned char previous;
            std::uint64_t a;
            std::uint64_t b;
        };
        std::vector<Item> items = reserved_vector<Item>(checked_mul(2, nb));
        for (std::uint64_t j = 0; j < per_interval; ++j) {
            items.clear();
            if (shared_ && j == 0) {
                for (std::uint64_t b = 0; b < nb; ++b)
                    items.push_back({rows.global_column(k - 1, b), 1, test.degree, b});
            }
            const std::uint64_t a = shared_ && j == 0 ? 0 : j;
            for (std::uint64_t b = 0; b < nb; ++b) items.push_back({rows.global_column(k, b), 0, a, b});
            std::stable_sort(items.begin(), items.end(),
                             [](const Item& x, const Item& y) { return x.column < y.column; });
            const std::uint64_t row_runs = runs_.size();
            const auto add = [&](const Item& item, std::int64_t column, unsigned char step) {
                terms_.push_back({item.a, item.b, item.previous});
                scaled_.push(rows.block(item.a, item.b), column);
                if (step == summed || runs_.size() == row_runs || runs_.back().step != step) {
                    runs_.push_back({terms_.size(), step});
                } else {
                    runs_.back().end = terms_.size();
                }
            };
            for (std::size_t i = 0; i < items.size(); ++i) {
                const Item& item = items[i];
                const auto column = static_cast<std::int64_t>(item.column - base);
                if (i + 1 < items.size() && items[i + 1].column == item.column) {
                    // A trial function of both shares: the pair summed, as build() merges it.
                    add(item, column, summed);
                    const Item& next = items[++i];
                    terms_.push_back({next.a, next.b, next.previous});
                    scaled_.push(rows.block(next.a, next.b), column);
                    runs_.back().end = terms_.size();
                    continue;
                }
                const DoubleDouble& value = rows.block(item.a, item.b);
                const auto zero = RoundedRows::zero_class(value, rows.magnitude(item.a, item.b));
                if (zero == RoundedRows::Zero::tested ||
                    (zero == RoundedRows::Zero::never && !RoundedRows::within_split_range(value.hi)))
                    usable_ = false;
                if (zero == RoundedRows::Zero::never) add(item, column, item.previous);
            }
            row_ends_.push_back(runs_.size());
            row_terms_.push_back(terms_.size());
        }
        // Without summed pairs every row has its entries whatever the steps: the
        // sub-interval's terms are written run after run across the rows.
        for (const Run& run : runs_) {
            if (run.step == summed) summed_any_ = true;
            if (!flat_runs_.empty() && flat_runs_.back().step == run.step) {
                flat_runs_.back().end = run.end;
            } else {
                flat_runs_.push_back(run);
            }
        }
        if (usable_) {
            // Summed pairs go into the blocks where each factor's product is Dekker's without rescaling.
            std::uint64_t t = 0;
            for (const Run& run : runs_) {
                for (; t < run.end; ++t) {
                    const Term& term = terms_[t];
                    if (run.step == summed)
                        pairs_blocked_ = pairs_blocked_ &&
                                         RoundedRows::within_split_range(rows.block(term.a, term.b).hi) &&
                                         RoundedRows::within_split_range(rows.magnitude(term.a, term.b).hi);
                }
            }
            // Each term of a run of single products one entry, scaled by its run's step (that of its share);
            // a summed pair one entry, where the blocks form it.
            t = 0;
            for (const Run& run : runs_) {
                if (run.step == summed && pairs_blocked_) {
                    const Term& first = terms_[t];
                    const Term& next = terms_[t + 1];
                    pairs_.push_back(blocks_.size());
                    blocks_.add_rounded_pair(rows.block(first.a, first.b), rows.magnitude(first.a, first.b),
                                             first.previous != 0, rows.block(next.a, next.b),
                                             rows.magnitude(next.a, next.b), next.previous != 0,
                                             scaled_.column(run.end - 2));
                    t = run.end;
                    continue;
                }
                for (; t < run.end; ++t) {
                    const Term& term = terms_[t];
                    if (run.step != summed)
                        blocks_.add(rows.block(term.a, term.b), term.previous != 0, scaled_.column(t));
                }
            }
            if (pairs_blocked_) {
                // Each row's end among the block's entries, where no pair rounds to zero.
                std::uint64_t run = 0;
                std::uint64_t entries = 0;
                t = 0;
                for (const std::uint64_t end : row_ends_) {
                    for (; run < end; ++run) {
                        entries += runs_[run].step == summed ? 1 : runs_[run].end - t;
                        t = runs_[run].end;
                    }
                    row_entries_.push_back(entries);
                }
            }
            blocks_.prepare();
        }
    }

    bool usable() const noexcept { return usable_; }

    // Whether fill_block serves; fill_rows where no pair is summed.
    bool blocked() const noexcept { return usable_; }
    bool summed_any() const noexcept { return summed_any_; }
    std::uint64_t block() const noexcept { return blocks_.block(); }

    // Writes the rows of sub-intervals k ... k + n - 1 (k >= 2, n <= block(),
    // blocked()) from entry nnz and row r on, as fill() writes them one by
    // one, if covers() holds for each of them; else writes nothing and returns false.
    template <class Index>
    bool fill_block(std::uint64_t k, std::uint64_t n, const CsrRows<Index>& out, std::uint64_t& nnz, std::uint64_t& r)
    {
        const std::uint64_t entries = blocks_.size();
        if (!blocks_.compute(rows_.points(), k, n, 0, entries)) return false;
        if (summed_any_ && pairs_blocked_) {
            // Where no pair rounds to zero, every row has its entries: placed at once.
            bool zero = false;
            for (const std::uint64_t e : pairs_) {
                for (std::uint64_t j = 0; j < n; ++j) zero = zero || blocks_.value(e, j) == 0.0;
            }
            if (!zero) {
                blocks_.place_rows(k, n, row_entries_, out, nnz, r);
                return true;
            }
        }
        if (summed_any_) {
            // Row by row: the single products from the block, the summed pairs as write() forms them
            // (or from the block) and left out where they round to zero.
            for (std::uint64_t j = 0; j < n; ++j) {
                const DoubleDouble plain[2] = {rows_.step(k + j), shared_ ? rows_.step(k + j - 1) : DoubleDouble(0.0)};
                nnz = write_computed(j, plain, (k + j) * rows_.column_step(), out, nnz, r);
            }
            return true;
        }
        blocks_.place_rows(k, n, row_terms_, out, nnz, r);
        return true;
    }

    // Row j (of a test space of single shares) of sub-intervals k ... k + n - 1
    // (n <= block(), blocked()) from entry nnz and row r on, as fill_row()
    // writes them, if each step is within the split range; else writes nothing and returns false.
    template <class Index>
    bool fill_rows(std::uint64_t j, std::uint64_t k, std::uint64_t n, const CsrRows<Index>& out, std::uint64_t& nnz,
                   std::uint64_t& r)
    {
        if (summed_any_) return false;  // the block's entries are then not the terms
        const std::uint64_t begin = j == 0 ? 0 : row_terms_[j - 1];
        const std::uint64_t end = row_terms_[j];
        if (!blocks_.compute(rows_.points(), k, n, begin, end)) return false;
        blocks_.place(k, n, begin, end, out.col_indices.data() + nnz, out.values.data() + nnz);
        const std::uint64_t count = end - begin;
        Index* const offsets = out.offsets.data() + r + 1;
        for (std::uint64_t i = 0; i < n; ++i) offsets[i] = static_cast<Index>(nnz + (i + 1) * count);
        nnz += n * count;
        r += n;
        return true;
    }

    // Whether sub-interval k (>= 2) can take the pattern: its steps within the split range.
    bool covers(const DoubleDouble& h, const DoubleDouble& before) const noexcept
    {
        return RoundedRows::within_split_range(h.hi) && (!shared_ || RoundedRows::within_split_range(before.hi));
    }

    // Writes sub-interval k's rows (h its step, before the step of k - 1) from entry nnz and row r on.
    template <class Index>
    void fill(std::uint64_t k, const DoubleDouble& h, const DoubleDouble& before, const CsrRows<Index>& out,
              std::uint64_t& nnz, std::uint64_t& r) const
    {
        const std::uint64_t base = k * rows_.column_step();
        if (!summed_any_) {
            const SplitDoubleDouble split_h(h);
            const SplitDoubleDouble split[2] = {split_h, shared_ ? SplitDoubleDouble(before) : split_h};
            Index* const columns = out.col_indices.data() + nnz;
            double* const values = out.values.data() + nnz;
            std::uint64_t t = 0;
            for (const Run& run : flat_runs_) {
                scaled_.write(t, run.end, split[run.step], base, columns + t, values + t);
                t = run.end;
            }
            Index* const offsets = out.offsets.data() + r + 1;
            for (std::size_t j = 0; j < row_terms_.size(); ++j) offsets[j] = static_cast<Index>(nnz + row_terms_[j]);
            nnz += t;
            r += row_terms_.size();
            return;
        }
        const Steps steps{{h, before}, {SplitDoubleDouble(h), SplitDoubleDouble(before)}};
        std::uint64_t run = 0;
        for (const std::uint64_t end : row_ends_) {
            nnz = write(run, end, steps, base, out, nnz);
            run = end;
            out.offsets[++r] = static_cast<Index>(nnz);
        }
    }

    // Writes row j of a test space of single shares (Legendre, polynomial-major)
    // on sub-interval k, h its step, from entry nnz on; returns the entries' end.
    template <class Index>
    std::uint64_t fill_row(std::uint64_t j, std::uint64_t k, const DoubleDouble& h, const CsrRows<Index>& out,
                           std::uint64_t nnz) const
    {
        const std::uint64_t begin = j == 0 ? 0 : row_terms_[j - 1];
        const std::uint64_t end = row_terms_[j];
        scaled_.write(begin, end, SplitDoubleDouble(h), k * rows_.column_step(), out.col_indices.data() + nnz,
                      out.values.data() + nnz);
        return nnz + (end - begin);
    }

private:
    // Block entry (a, b), scaled by the step of k or of k - 1; scaled_ holds
    // its split and its column relative to k column_step.
    struct Term {
        std::uint64_t a;
        std::uint64_t b;
        unsigned char previous;
    };

    // Terms [previous run's end, end) scaled by one step (0: k's, 1: k - 1's), or a summed pair.
    struct Run {
        std::uint64_t end;
        unsigned char step;
    };
    static constexpr unsigned char summed = 2;

    struct Steps {
        DoubleDouble plain[2];
        SplitDoubleDouble split[2];
    };

    // A summed pair, each term by its step (plain[0]: k's, plain[1]: k - 1's), rounded once.
    double summed_entry(const Term& first, const Term& next, const DoubleDouble* plain) const
    {
        const DoubleDouble& h_first = plain[first.previous];
        const DoubleDouble& h_next = plain[next.previous];
        DoubleDouble sum = rows_.block(first.a, first.b) * h_first;
        DoubleDouble magnitude = rows_.magnitude(first.a, first.b) * h_first;
        sum += rows_.block(next.a, next.b) * h_next;
        magnitude += rows_.magnitude(next.a, next.b) * h_next;
        return rounded_integral(sum, magnitude);
    }

    // Sub-interval k0 + j of the block computed last, its rows from entry n and row r on (write()'s
    // entries: the single products taken from the block); returns the entries' end.
    template <class Index>
    std::uint64_t write_computed(std::uint64_t j, const DoubleDouble* plain, std::uint64_t base,
                                 const CsrRows<Index>& out, std::uint64_t n, std::uint64_t& r) const
    {
        Index* const columns = out.col_indices.data();
        double* const values = out.values.data();
        const Term* const terms = terms_.data();
        std::uint64_t t = 0;
        std::uint64_t single = 0;  // the block's entry of term t (or of the pair at t)
        std::uint64_t run = 0;
        for (const std::uint64_t end : row_ends_) {
            for (; run < end; ++run) {
                const Run& x = runs_[run];
                if (x.step == summed) {
                    const double value = pairs_blocked_ ? blocks_.value(single++, j)
                                                        : summed_entry(terms[t], terms[t + 1], plain);
                    t = x.end;
                    if (value == 0.0) continue;
                    columns[n] = static_cast<Index>(base + static_cast<std::uint64_t>(scaled_.column(x.end - 2)));
                    values[n] = value;
                    ++n;
                    continue;
                }
                for (; t < x.end; ++t, ++single, ++n) {
                    columns[n] = static_cast<Index>(base + static_cast<std::uint64_t>(scaled_.column(t)));
                    values[n] = blocks_.value(single, j);
                }
            }
            out.offsets[++r] = static_cast<Index>(n);
        }
        return n;
    }

    // Runs [run, end) as entries from n on; returns their end.
    template <class Index>
    std::uint64_t write(std::uint64_t run, std::uint64_t end, const Steps& steps, std::uint64_t base,
                        const CsrRows<Index>& out, std::uint64_t n) const
    {
        Index* const columns = out.col_indices.data();
        double* const values = out.values.data();
        const Term* const terms = terms_.data();
        std::uint64_t t = run == 0 ? 0 : runs_[run - 1].end;
        for (; run < end; ++run) {
            const Run& r = runs_[run];
            if (r.step == summed) {
                const double value = summed_entry(terms[t], terms[t + 1], steps.plain);
                t = r.end;
                if (value == 0.0) continue;
                columns[n] = static_cast<Index>(base + static_cast<std::uint64_t>(scaled_.column(r.end - 2)));
                values[n] = value;
                ++n;
                continue;
            }
            scaled_.write(t, r.end, steps.split[r.step], base, columns + n, values + n);
            n += r.end - t;
            t = r.end;
        }
        return n;
    }

    const GeneralRows& rows_;
    bool shared_;
    bool usable_ = true;
    std::vector<std::uint64_t> row_ends_;  // each row's end among the runs
    std::vector<Term> terms_;
    ScaledTerms scaled_;
    std::vector<Run> runs_;
    std::vector<std::uint64_t> row_terms_;  // each row's end among the terms
    std::vector<Run> flat_runs_;            // the runs joined across rows
    bool summed_any_ = false;
    IntervalBlocks blocks_;                   // the terms as entries, where blocked()
    bool pairs_blocked_ = true;               // the summed pairs among them
    std::vector<std::uint64_t> pairs_;        // their entries
    std::vector<std::uint64_t> row_entries_;  // each row's end among the entries, where pairs_blocked_
};

// A few sub-intervals' mass rows (from k = 2 on), columns relative to k
// column_step, kept by the bits of the steps they scale by.
class IntervalRowsKept {
public:
    struct Slot {
        bool valid = false;
        std::uint64_t bits[4] = {0, 0, 0, 0};
        std::vector<std::uint64_t> columns;
        std::vector<double> values;
        std::vector<std::uint64_t> ends;  // each row's end, from the first row's start
    };

    explicit IntervalRowsKept(std::uint64_t rows) : rows_(rows) {}

    // The slot of these steps: valid if it holds them, else cleared for keep().
    Slot& slot(const DoubleDouble& h, const DoubleDouble& before)
    {
        const std::uint64_t bits[4] = {std::bit_cast<std::uint64_t>(h.hi), std::bit_cast<std::uint64_t>(h.lo),
                                       std::bit_cast<std::uint64_t>(before.hi),
                                       std::bit_cast<std::uint64_t>(before.lo)};
        std::uint64_t hash = 0;
        for (const std::uint64_t b : bits) hash = (hash ^ b) * 0x9e3779b97f4a7c15ULL;
        Slot& slot = slots_[(hash >> 32) % slots_.size()];
        if (slot.valid && std::equal(bits, bits + 4, slot.bits)) return slot;
        slot.valid = false;
        std::copy(bits, bits + 4, slot.bits);
        return slot;
    }

    // Keeps the rows [first, first + rows) just written at entries [begin, end) in `slot`.
    template <class Index>
    void keep(Slot& slot, const CsrRows<Index>& out, std::uint64_t first, std::uint64_t begin, std::uint64_t end,
              std::uint64_t base)
    {
        slot.columns.clear();
        slot.values.clear();
        slot.ends.clear();
        slot.columns.reserve(end - begin);
        slot.values.reserve(end - begin);
        slot.ends.reserve(rows_);
        for (std::uint64_t e = begin; e < end; ++e) {
            slot.columns.push_back(static_cast<std::uint64_t>(out.col_indices[e]) - base);
            slot.values.push_back(out.values[e]);
        }
        for (std::uint64_t j = 0; j < rows_; ++j)
            slot.ends.push_back(static_cast<std::uint64_t>(out.offsets[first + j + 1]) - begin);
        slot.valid = true;
    }

private:
    std::uint64_t rows_;
    std::array<Slot, 8> slots_;
};

// The rows of a test space that numbers its functions interval by interval,
// in the order GeneralRows::rows gives them. Derivative and jump: from k = 2
// on, every sub-interval's rows are RoundedRows' kept rows of their kinds
// (nothing in them depends on k), so those of the first such sub-interval are
// taken once and each later one is the same entries with columns moved by
// k column_step, written in one run. Mass: the same, for sub-intervals of the
// same step bits (IntervalRowsKept); other ones are formed row by row.
// Entries and rows a repeated template holds at most.
constexpr std::uint64_t group_items = 256;

template <class Index>
std::uint64_t fill_by_interval(const GeneralShape& shape, const SpaceBasis& test, GeneralRows& rows,
                               RoundedRows& rounded, const CsrRows<Index>& out)
{
    const std::uint64_t step = rows.column_step();
    const bool shared = test.kind == BasisKind::lagrange && test.continuous;
    const std::uint64_t p = test.degree;
    const std::uint64_t per_interval = shared ? p : test.degree + 1;
    InterruptCountdown countdown;
    std::uint64_t nnz = 0;
    std::uint64_t r = 0;
    out.offsets[0] = 0;
    const auto put = [&](std::uint64_t k, const GeneralRows::Share* shares, std::uint64_t count) {
        const RoundedRow& row = rounded.row(k, shares, count);
        nnz = append_row(row, k * step, out, nnz, r);
        countdown.tick(row.count + 1);
    };
    const auto put_interval = [&](std::uint64_t k) {
        for (std::uint64_t j = 0; j < per_interval; ++j) {
            if (shared && j == 0 && k > 0) {
                const GeneralRows::Share two[2] = {{k - 1, p}, {k, 0}};
                put(k, two, 2);
            } else {
                const GeneralRows::Share one[1] = {{k, j}};
                put(k, one, 1);
            }
        }
    };
    if (shape.op == TimeOperator::mass) {
        // A sub-interval's rows depend on its kinds and on the bits of its step (and of the one
        // before, for a shared row) alone: sub-intervals of the same step bits take kept rows.
        IntervalRowsKept kept(per_interval);
        IntervalMassPattern pattern(rows, test, per_interval);
        // Where the steps hardly repeat (a graded grid), keeping rows is left off after a while.
        std::uint64_t hits = 0;
        std::uint64_t misses = 0;
        std::uint64_t one_by_one = 0;  // sub-intervals before this one are not taken in blocks
        for (std::uint64_t k = shape.k_begin; k < shape.k_end; ++k) {
            if (k < 2) {
                put_interval(k);
                continue;
            }
            const bool keeping = misses < 64 || hits * 8 >= misses;
            if (pattern.blocked() && k >= one_by_one && (!keeping || !pattern.summed_any())) {
                // The pattern's rows of a block of sub-intervals at once, where it
                // covers each step: the bits a kept row of the same steps holds,
                // since the pattern wrote it, and those pattern.fill writes. With
                // summed pairs, kept rows (where steps repeat) cost about as much.
                const std::uint64_t n = std::min(pattern.block(), shape.k_end - k);
                const std::uint64_t begin = nnz;
                if (pattern.fill_block(k, n, out, nnz, r)) {
                    countdown.tick(nnz - begin + n * per_interval);
                    k += n - 1;
                    continue;
                }
                one_by_one = k + n;
            }
            const DoubleDouble h = rows.step(k);
            const DoubleDouble before = shared ? rows.step(k - 1) : DoubleDouble(0.0);
            IntervalRowsKept::Slot* const slot = keeping ? &kept.slot(h, before) : nullptr;
            const std::uint64_t base = k * step;
            if (slot != nullptr && slot->valid) {
                ++hits;
                const std::uint64_t entries = slot->columns.size();
                Index* const to_columns = out.col_indices.data() + nnz;
                double* const to_values = out.values.data() + nnz;
                for (std::uint64_t e = 0; e < entries; ++e) {
                    to_columns[e] = static_cast<Index>(base + slot->columns[e]);
                    to_values[e] = slot->values[e];
                }
                for (std::uint64_t j = 0; j < per_interval; ++j)
                    out.offsets[r + j + 1] = static_cast<Index>(nnz + slot->ends[j]);
                nnz += entries;
                r += per_interval;
                countdown.tick(entries + per_interval);
                continue;
            }
            const std::uint64_t first = r;
            const std::uint64_t begin = nnz;
            if (pattern.usable() && pattern.covers(h, before)) {
                pattern.fill(k, h, before, out, nnz, r);
                countdown.tick(nnz - begin + per_interval);
                ++misses;
                if (slot != nullptr) kept.keep(*slot, out, first, begin, nnz, base);
                continue;
            }
            for (std::uint64_t j = 0; j < per_interval; ++j) {
                if (shared && j == 0) {
                    const GeneralRows::Share two[2] = {{k - 1, p}, {k, 0}};
                    put(k, two, 2);
                } else {
                    const GeneralRows::Share one{k, j};
                    const RoundedRow& row = rounded.scaled_fresh(k, one, h);
                    nnz = append_row(row, base, out, nnz, r);
                    countdown.tick(row.count + 1);
                }
            }
            ++misses;
            if (slot != nullptr) kept.keep(*slot, out, first, begin, nnz, base);
        }
        if (shared && shape.k_begin < shape.k_end && shape.k_end == shape.n_t) {
            const GeneralRows::Share one[1] = {{shape.n_t - 1, p}};
            put(shape.n_t - 1, one, 1);
        }
        check_equal(r, shape.nrows, "general rows miscounted");
        return nnz;
    }
    std::uint64_t k = shape.k_begin;
    for (; k < shape.k_end && k < 3; ++k) put_interval(k);  // k = 2 keeps the rows of every kind
    if (k < shape.k_end) {
        // Sub-interval 2's rows, as written, are the template.
        const std::uint64_t first = k == 3 && shape.k_begin <= 2 ? r - per_interval : r;
        if (first == r) put_interval(k++);  // the range starts past 2: its first sub-interval's rows
        const std::uint64_t template_k = k - 1;
        const std::uint64_t begin = static_cast<std::uint64_t>(out.offsets[first]);
        const std::uint64_t entries = nnz - begin;
        // The template repeated for a group of sub-intervals (a few hundred
        // entries and rows), so that rows of few entries are written in long runs.
        const std::uint64_t group =
            std::max<std::uint64_t>(std::min(group_items / (entries + per_interval), shape.k_end - k), 1);
        std::vector<std::uint64_t> columns = reserved_vector<std::uint64_t>(checked_mul(entries, group));
        std::vector<double> values = reserved_vector<double>(entries * group);
        std::vector<std::uint64_t> ends = reserved_vector<std::uint64_t>(checked_mul(per_interval, group));
        for (std::uint64_t e = begin; e < nnz; ++e) {
            columns.push_back(static_cast<std::uint64_t>(out.col_indices[e]) - template_k * step);
            values.push_back(out.values[e]);
        }
        for (std::uint64_t j = 0; j < per_interval; ++j)
            ends.push_back(static_cast<std::uint64_t>(out.offsets[first + j + 1]) - begin);
        for (std::uint64_t m = 1; m < group; ++m) {
            for (std::uint64_t e = 0; e < entries; ++e) {
                columns.push_back(columns[e] + m * step);
                values.push_back(values[e]);
            }
            for (std::uint64_t j = 0; j < per_interval; ++j) ends.push_back(ends[j] + m * entries);
        }
        const auto put_intervals = [&](std::uint64_t count) {
            const std::uint64_t base = k * step;
            const std::uint64_t written = count * entries;
            Index* const to_columns = out.col_indices.data() + nnz;
            double* const to_values = out.values.data() + nnz;
            for (std::uint64_t e = 0; e < written; ++e) {
                to_columns[e] = static_cast<Index>(base + columns[e]);
                to_values[e] = values[e];
            }
            Index* const to_offsets = out.offsets.data() + r + 1;
            for (std::uint64_t j = 0; j < count * per_interval; ++j) to_offsets[j] = static_cast<Index>(nnz + ends[j]);
            nnz += written;
            r += count * per_interval;
            k += count;
            countdown.tick(written + count * per_interval);
        };
        while (shape.k_end - k >= group) put_intervals(group);
        while (k < shape.k_end) put_intervals(1);
    }
    if (shared && shape.k_begin < shape.k_end && shape.k_end == shape.n_t) {
        const GeneralRows::Share one[1] = {{shape.n_t - 1, p}};
        put(shape.n_t - 1, one, 1);
    }
    check_equal(r, shape.nrows, "general rows miscounted");
    return nnz;
}

// The derivative or jump rows of a polynomial-major Legendre test space.
// From k = 2 on, row (i, k) is RoundedRows' kept row of kind i with its
// columns moved by k column_step (nothing in it depends on k): it is taken
// once and repeated for a group of sub-intervals, written in long runs.
template <class Index>
std::uint64_t fill_polynomial_major_steady(const GeneralShape& shape, GeneralRows& rows, RoundedRows& rounded,
                                           const CsrRows<Index>& out)
{
    const std::uint64_t step = rows.column_step();
    InterruptCountdown countdown;
    std::uint64_t nnz = 0;
    std::uint64_t r = 0;
    out.offsets[0] = 0;
    for (std::uint64_t i = 0; i < rows.test_functions(); ++i) {
        std::uint64_t k = shape.k_begin;
        for (; k < shape.k_end && k < 2; ++k) {
            const GeneralRows::Share one[1] = {{k, i}};
            const RoundedRow& row = rounded.row(k, one, 1);
            nnz = append_row(row, k * step, out, nnz, r);
            countdown.tick(row.count + 1);
        }
        if (k == shape.k_end) continue;
        const GeneralRows::Share one[1] = {{k, i}};
        const RoundedRow& row = rounded.row(k, one, 1);
        const std::uint64_t count = row.count;
        const std::uint64_t group = std::max<std::uint64_t>(std::min(group_items / (count + 1), shape.k_end - k), 1);
        // The row repeated for `group` sub-intervals, columns relative to the first one's.
        std::vector<std::int64_t> columns = reserved_vector<std::int64_t>(checked_mul(group, count));
        std::vector<double> values = reserved_vector<double>(group * count);
        for (std::uint64_t m = 0; m < group; ++m) {
            for (std::uint64_t e = 0; e < count; ++e) {
                columns.push_back(row.columns[e] + static_cast<std::int64_t>(m * step));
                values.push_back(row.values[e]);
            }
        }
        while (k < shape.k_end) {
            const std::uint64_t g = std::min(group, shape.k_end - k);
            const std::uint64_t base = k * step;
            const std::uint64_t written = g * count;
            Index* const to_columns = out.col_indices.data() + nnz;
            double* const to_values = out.values.data() + nnz;
            for (std::uint64_t e = 0; e < written; ++e) {
                to_columns[e] = static_cast<Index>(base + static_cast<std::uint64_t>(columns[e]));
                to_values[e] = values[e];
            }
            Index* const to_offsets = out.offsets.data() + r + 1;
            for (std::uint64_t m = 0; m < g; ++m) to_offsets[m] = static_cast<Index>(nnz + (m + 1) * count);
            nnz += written;
            r += g;
            k += g;
            countdown.tick(written + g);
        }
    }
    check_equal(r, shape.nrows, "general rows miscounted");
    return nnz;
}

// The mass rows of a polynomial-major Legendre test space: kept ones while
// the steps repeat (a uniform grid), else each row from the pattern.
template <class Index>
std::uint64_t fill_polynomial_major_mass(const GeneralShape& shape, const SpaceBasis& test, GeneralRows& rows,
                                         RoundedRows& rounded, const CsrRows<Index>& out)
{
    const std::uint64_t step = rows.column_step();
    IntervalMassPattern pattern(rows, test, test.degree + 1);
    InterruptCountdown countdown;
    std::uint64_t nnz = 0;
    std::uint64_t r = 0;
    std::uint64_t hits = 0;
    std::uint64_t misses = 0;
    out.offsets[0] = 0;
    // The rows in GeneralRows::rows' order: function by function, sub-interval by sub-interval.
    for (std::uint64_t i = 0; i < rows.test_functions(); ++i) {
        std::uint64_t one_by_one = 0;  // sub-intervals before this one are not taken in blocks
        for (std::uint64_t k = shape.k_begin; k < shape.k_end; ++k) {
            if (k >= 2 && pattern.blocked() && k >= one_by_one) {
                // A block of rows from the pattern, where it covers each step: the
                // bits of the rows kept for these steps (a covered step's row
                // holds the products the pattern forms) and of fill_row's.
                const std::uint64_t n = std::min(pattern.block(), shape.k_end - k);
                const std::uint64_t begin = nnz;
                if (pattern.fill_rows(i, k, n, out, nnz, r)) {
                    countdown.tick(nnz - begin + n);
                    k += n - 1;
                    continue;
                }
                one_by_one = k + n;
            }
            if (pattern.usable() && misses >= 64 && hits * 8 < misses) {
                const DoubleDouble h = rows.step(k);
                if (pattern.covers(h, h)) {
                    const std::uint64_t begin = nnz;
                    nnz = pattern.fill_row(i, k, h, out, nnz);
                    out.offsets[++r] = static_cast<Index>(nnz);
                    countdown.tick(nnz - begin + 1);
                    continue;
                }
            }
            const GeneralRows::Share one[1] = {{k, i}};
            const RoundedRow& row = rounded.row(k, one, 1);
            if (rounded.kept()) {
                ++hits;
            } else {
                ++misses;
            }
            nnz = append_row(row, k * step, out, nnz, r);
            countdown.tick(row.count + 1);
        }
    }
    check_equal(r, shape.nrows, "general rows miscounted");
    return nnz;
}

}  // namespace

void space_basis_values(const SpaceBasis& s, DoubleDouble x, std::vector<DoubleDouble>& values,
                        std::vector<DoubleDouble>& derivatives)
{
    values_at(s, x, values, derivatives);
}

std::uint64_t space_basis_index(const SpaceBasis& s, std::uint64_t n_t, std::uint64_t k, std::uint64_t j)
{
    return global(s, n_t, k, j);
}

GeneralShape general_shape(TimeOperator op, const SpaceBasis& trial, const SpaceBasis& test, std::uint64_t n_t,
                           std::uint64_t k_begin, std::uint64_t k_end)
{
    if (n_t == 0) fail("time grid requires at least one interval");
    if (!(k_begin <= k_end && k_end <= n_t)) fail("interval range out of bounds");
    for (const SpaceBasis* s : {&trial, &test}) {
        if (s->kind != BasisKind::lagrange) continue;
        check_equal(s->nodes.size(), checked_add(s->degree, 1), "a Lagrange basis needs degree + 1 nodes");
        if (s->continuous && (s->degree == 0 || s->nodes.front().hi != -1.0 || s->nodes.back().hi != 1.0))
            fail("continuous Lagrange spaces need both ends among their nodes");
    }
    const std::uint64_t ncols = dimension(trial, n_t);
    dimension(test, n_t);
    const std::uint64_t intervals = k_end - k_begin;
    const bool shared = test.kind == BasisKind::lagrange && test.continuous;
    std::uint64_t nrows = checked_mul(intervals, shared ? test.degree : functions(test));
    if (shared && intervals > 0 && k_end == n_t) nrows = checked_add(nrows, 1);
    // A row has one share or two (a shared node); each reaches its trial
    // sub-interval, and the jump the one before too.
    const std::uint64_t reach = std::uint64_t{shared ? 2U : 1U} * (op == TimeOperator::jump ? 2U : 1U);
    const std::uint64_t max_nnz = checked_mul(nrows, checked_mul(reach, functions(trial)));
    return {op, n_t, k_begin, k_end, nrows, ncols, max_nnz};
}

template <class Index>
std::uint64_t fill_general_rows(const GeneralShape& shape, const SpaceBasis& trial, const SpaceBasis& test,
                                std::span<const double> points, const CsrRows<Index>& out)
{
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    if (shape.op == TimeOperator::mass) check_equal(points.size(), shape.n_t + 1, "grid points do not match the shape");
    GeneralRows rows(shape, trial, test, points);
    RoundedRows rounded(rows, shape.op == TimeOperator::mass);
    if (!(test.kind == BasisKind::legendre && !test.interval_major))
        return fill_by_interval(shape, test, rows, rounded, out);
    if (shape.op == TimeOperator::mass) return fill_polynomial_major_mass(shape, test, rows, rounded, out);
    return fill_polynomial_major_steady(shape, rows, rounded, out);
}

void count_general_rows(const GeneralShape& shape, const SpaceBasis& trial, const SpaceBasis& test,
                        std::span<const double> points, linear_algebra::BlockCounts& counts)
{
    if (shape.op == TimeOperator::mass) check_equal(points.size(), shape.n_t + 1, "grid points do not match the shape");
    GeneralRows rows(shape, trial, test, points);
    RoundedRows rounded(rows, shape.op == TimeOperator::mass);
    const std::uint64_t step = rows.column_step();
    // Every row the fill writes is RoundedRows' row of its shares (kept or
    // formed afresh, the same entries), in the order GeneralRows::rows gives;
    // a mass row whose pattern no moderate step changes is counted from it.
    const bool mass = shape.op == TimeOperator::mass;
    rows.rows([&](std::uint64_t k, const GeneralRows::Share* shares, std::uint64_t count) {
        const RoundedRow* steady = mass && count == 1 ? rounded.steady(shares[0], rows.step(shares[0].k)) : nullptr;
        const RoundedRow& row = steady != nullptr ? *steady : rounded.row(k, shares, count);
        counts.row(row.columns, row.count, k * step);
    });
    check_equal(counts.rows(), shape.nrows, "general rows miscounted");
}

template std::uint64_t fill_general_rows(const GeneralShape&, const SpaceBasis&, const SpaceBasis&,
                                         std::span<const double>, const CsrRows<std::int32_t>&);
template std::uint64_t fill_general_rows(const GeneralShape&, const SpaceBasis&, const SpaceBasis&,
                                         std::span<const double>, const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
