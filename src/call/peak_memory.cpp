// Peak memory of whole calls, counted from the sizes of the core's arrays and of the result objects.
#include "call/peak_memory.hpp"

#include <algorithm>
#include <limits>
#include <numeric>

#include "call/result.hpp"
#include "fault/checked_size.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"

namespace zelk::call {
namespace {

// A byte total that saturates: anything past 2^64 fails the limit anyway.
class Bytes {
public:
    Bytes& add(std::uint64_t count, std::uint64_t size)
    {
        std::uint64_t bytes;
        if (mul_overflows(count, size, bytes) || add_overflows(total_, bytes, total_))
            total_ = std::numeric_limits<std::uint64_t>::max();
        return *this;
    }
    std::uint64_t total() const { return total_; }

private:
    std::uint64_t total_ = 0;
};

// The interpreter keeps one int object for each of 0 ... 256.
constexpr std::uint64_t cached_ints = 257;

// A CSR matrix: a column index and a value per entry, an offset per row and one.
Bytes& add_csr(Bytes& bytes, std::uint64_t entries, std::uint64_t rows)
{
    return bytes.add(entries, sizeof(std::uint64_t) + sizeof(double)).add(rows, sizeof(std::uint64_t)).add(1, 8);
}

}  // namespace

std::uint64_t triplet_lists_bytes(std::uint64_t entries, std::uint64_t rows, std::uint64_t cols)
{
    const auto new_ints = [](std::uint64_t count) { return count > cached_ints ? int_object_bytes : 0; };
    return Bytes()
        .add(entries, 3 * list_slot_bytes + float_object_bytes + new_ints(cols))
        .add(rows, new_ints(rows))
        .total();
}

std::uint64_t points_call_bytes(std::uint64_t degree, std::uint64_t n_t)
{
    const std::uint64_t points = piecewise_polynomials::LagrangeBasis::point_count(degree, n_t);
    return Bytes().add(points, sizeof(double) + list_slot_bytes + float_object_bytes).total();
}

// The grid's points stay alive to the end. The row blocks and their stacking
// hold at most 40 bytes per entry; the export holds the stacked matrix and
// its lists, which is more.
std::uint64_t transformation_call_bytes(std::uint64_t degree, std::uint64_t n_t)
{
    if (degree == 0) return 0;
    const std::uint64_t points = piecewise_polynomials::LagrangeBasis::point_count(degree, n_t);
    const std::uint64_t block_entries = checked_length<std::uint64_t>(checked_mul(n_t, checked_add(degree, 1)));
    Bytes rows;
    rows.add(n_t, degree + 1);
    Bytes entries;
    entries.add(block_entries, degree + 1);
    Bytes peak;
    peak.add(points, sizeof(double));
    add_csr(peak, entries.total(), rows.total());
    return peak.add(1, triplet_lists_bytes(entries.total(), rows.total(), points)).total();
}

// Every fine row has degree + 1 entries, except the fine points that fall on
// a coarse node, which have one: with g = gcd(nt_coarse, nt_fine) there are
// degree * g + 1 of them. The assembly reserves degree + 1 per row all the
// same, and that reservation is alive while the rows are counted.
std::uint64_t prolongation_call_bytes(std::uint64_t nt_coarse, std::uint64_t nt_fine, std::uint64_t degree)
{
    if (degree == 0 || nt_coarse == 0 || nt_fine == 0) return 0;
    const std::uint64_t rows = checked_add(checked_mul(nt_fine, degree), 1);
    const std::uint64_t cols = checked_add(checked_mul(nt_coarse, degree), 1);
    const std::uint64_t reserved = checked_length<std::uint64_t>(checked_mul(rows, checked_add(degree, 1)));
    const std::uint64_t on_nodes = std::min(rows, degree * std::gcd(nt_coarse, nt_fine) + 1);
    const std::uint64_t entries = reserved - on_nodes * degree;

    Bytes assembly;
    assembly.add(reserved, 2 * sizeof(std::uint64_t) + sizeof(double)).add(rows, sizeof(std::uint64_t));
    Bytes out;
    add_csr(out, entries, rows).add(1, triplet_lists_bytes(entries, rows, cols));
    return std::max(assembly.total(), out.total());
}

}  // namespace zelk::call
