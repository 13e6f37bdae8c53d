// Memory limits on Linux: RAM plus swap, RLIMIT_AS and RLIMIT_DATA, the cgroup (v2, else v1) limit, MemAvailable.
#if defined(__linux__)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>

#include "fault/memory_limit.hpp"

namespace zelk {
namespace {

constexpr std::uint64_t no_limit = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) noexcept
{
    return b != 0 && a > no_limit / b ? no_limit : a * b;
}

// The whole of a small file as a C string, or false. No allocation: this runs
// inside size checks, also when memory is short.
template <std::size_t N>
bool read_file(const char* path, char (&text)[N]) noexcept
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t length = 0;
    while (length + 1 < N) {
        const ssize_t got = ::read(fd, text + length, N - 1 - length);
        if (got <= 0) break;
        length += static_cast<std::size_t>(got);
    }
    ::close(fd);
    text[length] = '\0';
    return length > 0;
}

// A decimal number at the start of `text`; false for anything else ("max").
bool parse_u64(const char* text, std::uint64_t& value) noexcept
{
    if (*text < '0' || *text > '9') return false;
    value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const std::uint64_t digit = static_cast<std::uint64_t>(*text - '0');
        if (value > (no_limit - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

bool read_u64(const char* path, std::uint64_t& value) noexcept
{
    char text[64];
    return read_file(path, text) && parse_u64(text, value);
}

std::optional<std::uint64_t> machine_memory() noexcept
{
    struct sysinfo info{};
    if (sysinfo(&info) != 0) return std::nullopt;
    const std::uint64_t units = std::uint64_t{info.totalram} + info.totalswap;  // each below 2^64 / mem_unit
    return saturating_mul(units, info.mem_unit);
}

// The kB figure of the line "<key>: <n> kB" in a /proc/meminfo text.
std::optional<std::uint64_t> meminfo_kib(const char* text, const char* key) noexcept
{
    const std::size_t key_length = std::strlen(key);
    for (const char* line = text; *line != '\0';) {
        if (std::strncmp(line, key, key_length) == 0 && line[key_length] == ':') {
            const char* number = line + key_length + 1;
            while (*number == ' ') ++number;
            std::uint64_t kib;
            if (parse_u64(number, kib)) return kib;
            return std::nullopt;
        }
        const char* end = std::strchr(line, '\n');
        if (end == nullptr) break;
        line = end + 1;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> available_memory() noexcept
{
    char text[8192];  // about 1.5 KiB today
    if (!read_file("/proc/meminfo", text)) return std::nullopt;
    return available_from_meminfo(text);
}

// Field `index` (0-based) of /proc/self/statm, in bytes: 0 is the address
// space in use, 5 the data segment (with the stack).
std::optional<std::uint64_t> statm_bytes(int index) noexcept
{
    char text[256];
    if (!read_file("/proc/self/statm", text)) return std::nullopt;
    const char* p = text;
    for (int i = 0; i < index; ++i) {
        p = std::strchr(p, ' ');
        if (p == nullptr) return std::nullopt;
        ++p;
    }
    std::uint64_t pages;
    if (!parse_u64(p, pages)) return std::nullopt;
    return saturating_mul(pages, static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)));
}

// An rlimit less what the process already uses of it; empty if unlimited.
// Without a usage figure the limit itself still bounds a single request.
std::optional<std::uint64_t> rlimit_headroom(int resource, int statm_field) noexcept
{
    struct rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    const std::uint64_t cap = limit.rlim_cur;
    const auto used = statm_bytes(statm_field);
    return used ? headroom(cap, *used) : cap;
}

// cgroup v1 reports "no limit" as a huge page-rounded number.
constexpr std::uint64_t unlimited_threshold = std::uint64_t{1} << 62;

// The least headroom (limit minus usage) over the cgroup directory `path`
// below `root` and its ancestors, since a parent's limit binds its children.
// Returns false if no level had a limit file, i.e. the controller is absent.
bool group_headroom(const char* root, const char* path, std::size_t path_length, const char* limit_file,
                    const char* usage_file, std::optional<std::uint64_t>& result) noexcept
{
    char dir[1024];
    if (std::snprintf(dir, sizeof dir, "%s%.*s", root, static_cast<int>(path_length), path) >=
        static_cast<int>(sizeof dir))
        return false;
    const std::size_t root_length = std::strlen(root);
    bool found = false;
    for (;;) {
        char file[1100];
        std::uint64_t limit;
        std::snprintf(file, sizeof file, "%s/%s", dir, limit_file);
        char text[64];
        if (read_file(file, text)) {
            found = true;
            if (parse_u64(text, limit) && limit < unlimited_threshold) {  // "max": no limit at this level
                std::uint64_t used = 0;
                std::snprintf(file, sizeof file, "%s/%s", dir, usage_file);
                read_u64(file, used);
                const std::uint64_t left = headroom(limit, used);
                result = result ? std::min(*result, left) : left;
            }
        }
        char* slash = std::strrchr(dir, '/');
        if (slash == nullptr || static_cast<std::size_t>(slash - dir) < root_length) break;
        *slash = '\0';
    }
    return found;
}

std::optional<std::uint64_t> cgroup_headroom() noexcept
{
    char text[4096];
    if (!read_file("/proc/self/cgroup", text)) return std::nullopt;
    std::optional<std::uint64_t> result;
    const char* v1_path = nullptr;
    std::size_t v1_length = 0;
    // Lines are "id:controllers:path"; v2 is the line "0::path".
    for (const char* line = text; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        if (end == nullptr) end = line + std::strlen(line);
        const char* c1 = static_cast<const char*>(std::memchr(line, ':', static_cast<std::size_t>(end - line)));
        const char* c2 = c1 ? static_cast<const char*>(std::memchr(c1 + 1, ':', static_cast<std::size_t>(end - c1 - 1)))
                            : nullptr;
        if (c2 != nullptr) {
            const char* path = c2 + 1;
            const std::size_t length = static_cast<std::size_t>(end - path);
            if (c2 == c1 + 1) {
                if (group_headroom("/sys/fs/cgroup", path, length, "memory.max", "memory.current", result))
                    return result;
            } else {
                // The controller list, comma separated, must contain "memory".
                for (const char* name = c1 + 1; name < c2;) {
                    const char* comma =
                        static_cast<const char*>(std::memchr(name, ',', static_cast<std::size_t>(c2 - name)));
                    const char* name_end = comma ? comma : c2;
                    if (name_end - name == 6 && std::memcmp(name, "memory", 6) == 0) {
                        v1_path = path;
                        v1_length = length;
                    }
                    name = name_end + 1;
                }
            }
        }
        line = *end == '\0' ? end : end + 1;
    }
    if (v1_path != nullptr)
        group_headroom("/sys/fs/cgroup/memory", v1_path, v1_length, "memory.limit_in_bytes", "memory.usage_in_bytes",
                       result);
    return result;
}

}  // namespace

std::optional<std::uint64_t> available_from_meminfo(const char* text) noexcept
{
    const auto available = meminfo_kib(text, "MemAvailable");
    if (!available) return std::nullopt;
    const std::uint64_t swap = meminfo_kib(text, "SwapFree").value_or(0);
    const std::uint64_t kib = swap > no_limit - *available ? no_limit : *available + swap;
    return saturating_mul(kib, 1024);
}

MemoryLimitSources read_memory_limit_sources() noexcept
{
    return {machine_memory(), rlimit_headroom(RLIMIT_AS, 0), rlimit_headroom(RLIMIT_DATA, 5), cgroup_headroom(),
            available_memory()};
}

}  // namespace zelk

#endif
