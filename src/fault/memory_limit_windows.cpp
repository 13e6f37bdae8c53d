// Memory limits on Windows: the system commit limit and what is left of it, and the limits of the process's job object.
#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// psapi.h needs the declarations of windows.h before it.
#include <psapi.h>

#include <algorithm>

#include "fault/memory_limit.hpp"

namespace zelk {
namespace {

// RAM plus page files: Windows commits storage when it is allocated, so this
// is the most any process can hold.
std::optional<std::uint64_t> machine_memory() noexcept
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status)) return std::nullopt;
    return static_cast<std::uint64_t>(status.ullTotalPageFile);
}

// The commit still available: what other processes hold is already subtracted.
std::optional<std::uint64_t> available_memory() noexcept
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status)) return std::nullopt;
    return static_cast<std::uint64_t>(status.ullAvailPageFile);
}

// The job object's per-process or per-job commit limit, less what this
// process has committed; empty outside a job or without such a limit.
std::optional<std::uint64_t> job_headroom() noexcept
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
    if (!::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &info, sizeof info, nullptr))
        return std::nullopt;
    const DWORD flags = info.BasicLimitInformation.LimitFlags;
    std::optional<std::uint64_t> limit;
    if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) limit = static_cast<std::uint64_t>(info.ProcessMemoryLimit);
    if (flags & JOB_OBJECT_LIMIT_JOB_MEMORY) {
        const auto job = static_cast<std::uint64_t>(info.JobMemoryLimit);
        limit = limit ? std::min(*limit, job) : job;
    }
    if (!limit) return std::nullopt;
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!::K32GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                   sizeof counters))
        return limit;
    return headroom(*limit, static_cast<std::uint64_t>(counters.PrivateUsage));
}

}  // namespace

MemoryLimitSources read_memory_limit_sources() noexcept
{
    return {machine_memory(), std::nullopt, std::nullopt, job_headroom(), available_memory()};
}

}  // namespace zelk

#endif
