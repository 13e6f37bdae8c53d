// The memory limit: the sources this platform offers, and a lowered address-space limit taking effect.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

#include "fault/memory_limit.hpp"

#if defined(__linux__)
#include <sys/resource.h>
#endif

namespace {

std::string show(const std::optional<std::uint64_t>& bytes)
{
    return bytes ? std::to_string(*bytes) : std::string("none");
}

}  // namespace

TEST(MemoryLimit, IsTheSmallestSourceAndTheMachineIsKnown)
{
    const zelk::MemoryLimitSources s = zelk::read_memory_limit_sources();
    std::cout << "memory limit sources (bytes): machine " << show(s.machine) << ", address space "
              << show(s.address_space) << ", data " << show(s.data) << ", group " << show(s.group) << ", available "
              << show(s.available) << "\n";
    ASSERT_TRUE(s.machine.has_value());
    EXPECT_GT(*s.machine, std::uint64_t{1} << 24);
    const std::uint64_t limit = zelk::memory_limit();
    EXPECT_LE(limit, *s.machine);
    for (const auto& source : {s.address_space, s.data, s.group, s.available}) {
        // Usage moves between readings, so only a loose bound holds for the others.
        if (source) {
            EXPECT_LE(limit, *source + (std::uint64_t{1} << 26));
        }
    }
}

#if defined(__linux__)
// Reads the address-space source under a soft RLIMIT_AS of `limit` bytes, then restores the old limit.
std::optional<std::uint64_t> address_space_under(std::uint64_t limit)
{
    rlimit saved{};
    if (getrlimit(RLIMIT_AS, &saved) != 0) return std::nullopt;
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(limit);
    if (saved.rlim_max != RLIM_INFINITY && lowered.rlim_cur > saved.rlim_max) return std::nullopt;
    if (setrlimit(RLIMIT_AS, &lowered) != 0) return std::nullopt;
    const auto sources = zelk::read_memory_limit_sources();
    setrlimit(RLIMIT_AS, &saved);
    return sources.address_space;
}

TEST(MemoryLimit, AvailableIsMemAvailablePlusFreeSwap)
{
    const auto s = zelk::read_memory_limit_sources();
    ASSERT_TRUE(s.available.has_value());
    EXPECT_LE(*s.available, *s.machine);
    const char meminfo[] =
        "MemTotal:       24730780 kB\nMemFree:        21098560 kB\nMemAvailable:   23553572 kB\n"
        "Buffers:          226220 kB\nSwapTotal:       2097148 kB\nSwapFree:        1048576 kB\n";
    EXPECT_EQ(zelk::available_from_meminfo(meminfo), (std::uint64_t{23553572} + 1048576) * 1024);
    EXPECT_EQ(zelk::available_from_meminfo("MemTotal: 1 kB\nMemAvailable: 7 kB\n"), std::uint64_t{7} * 1024);
    EXPECT_FALSE(zelk::available_from_meminfo("MemTotal: 1 kB\nMemFree: 1 kB\n").has_value());
}

TEST(MemoryLimit, AddressSpaceLimitLessWhatIsInUse)
{
    constexpr std::uint64_t huge = std::uint64_t{1} << 62;
    constexpr std::uint64_t room = std::uint64_t{1} << 30;
    const auto left = address_space_under(huge);
    if (!left) GTEST_SKIP() << "setrlimit(RLIMIT_AS) does not take effect here (an emulator?)";
    const std::uint64_t in_use = huge - *left;
    const auto lowered = address_space_under(in_use + room);
    ASSERT_TRUE(lowered.has_value());
    EXPECT_LE(*lowered, room);
    EXPECT_GT(*lowered, room - (std::uint64_t{1} << 26));  // the address space hardly grew in between
}
#endif
