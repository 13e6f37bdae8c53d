// Reference entries times one step, many at once: their splits kept side by side, so that the loop vectorises.
#pragma once

#include <cstdint>
#include <vector>

#include "fault/checked_size.hpp"
#include "time_operators/split_product.hpp"

namespace zelk::time_operators {

// Terms, each a double-double split once (SplitDoubleDouble's parts) and a
// column relative to its sub-interval.
class ScaledTerms {
public:
    explicit ScaledTerms(std::uint64_t capacity)
        : value_(reserved_vector<double>(capacity)),
          high_(reserved_vector<double>(capacity)),
          low_(reserved_vector<double>(capacity)),
          tail_(reserved_vector<double>(capacity)),
          column_(reserved_vector<std::int64_t>(capacity))
    {
    }

    void push(const DoubleDouble& factor, std::int64_t column)
    {
        const SplitDoubleDouble split(factor);
        value_.push_back(split.hi.value);
        high_.push_back(split.hi.high);
        low_.push_back(split.hi.low);
        tail_.push_back(split.lo);
        column_.push_back(column);
    }

    std::uint64_t size() const noexcept { return value_.size(); }
    std::int64_t column(std::uint64_t t) const noexcept { return column_[t]; }

    // Term t times h, exactly split_product(SplitDoubleDouble(factor), h): the same operations in the same order.
    DoubleDouble times(std::uint64_t t, const SplitDoubleDouble& h) const noexcept
    {
        const double p = value_[t] * h.hi.value;
        const double error = ((high_[t] * h.hi.high - p) + high_[t] * h.hi.low + low_[t] * h.hi.high) +
                             low_[t] * h.hi.low;
        const double cross = value_[t] * h.lo + tail_[t] * h.hi.value;
        const double s = p + (error + cross);
        return {s, (error + cross) - (s - p)};
    }

    // Entries i = 0 .. end - begin - 1 from terms begin + i: column base + the
    // term's, value the term times h rounded to double.
    template <class Index>
    void write(std::uint64_t begin, std::uint64_t end, const SplitDoubleDouble& h, std::uint64_t base, Index* columns,
               double* values) const noexcept
    {
        if (end - begin >= 8) {
            write_long(begin, end, h, base, columns, values);
            return;
        }
        // Too few to gain from the vector loops' set-up: one by one.
        for (std::uint64_t t = begin; t < end; ++t, ++columns, ++values) {
            *values = times(t, h).to_double();
            *columns = static_cast<Index>(base + static_cast<std::uint64_t>(column_[t]));
        }
    }

private:
    template <class Index>
    void write_long(std::uint64_t begin, std::uint64_t end, const SplitDoubleDouble& h, std::uint64_t base,
                    Index* columns, double* values) const noexcept
    {
        const double hv = h.hi.value;
        const double hh = h.hi.high;
        const double hl = h.hi.low;
        const double ht = h.lo;
        const double* const value = value_.data() + begin;
        const double* const high = high_.data() + begin;
        const double* const low = low_.data() + begin;
        const double* const tail = tail_.data() + begin;
        const std::int64_t* const column = column_.data() + begin;
        const std::uint64_t n = end - begin;
        for (std::uint64_t i = 0; i < n; ++i) {
            const double p = value[i] * hv;
            const double error = ((high[i] * hh - p) + high[i] * hl + low[i] * hh) + low[i] * hl;
            const double cross = value[i] * ht + tail[i] * hv;
            const double s = p + (error + cross);
            const double lo = (error + cross) - (s - p);
            values[i] = s + lo;  // DoubleDouble{s, lo}.to_double()
        }
        for (std::uint64_t i = 0; i < n; ++i)
            columns[i] = static_cast<Index>(base + static_cast<std::uint64_t>(column[i]));
    }

    std::vector<double> value_;
    std::vector<double> high_;
    std::vector<double> low_;
    std::vector<double> tail_;
    std::vector<std::int64_t> column_;
};

}  // namespace zelk::time_operators
