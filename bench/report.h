#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace bench {

inline double monotonicMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Nearest-rank percentile, p from 0 to 100.
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

template <typename... Args> std::string format(const char *pattern, Args... args)
{
    char text[512];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

// One row of the summary table: tools/bench.sh collects these lines from every benchmark.
// `met` is "yes", "no" or "-" where no target applies.
inline void result(const std::string &measurement, const std::string &value,
                   const std::string &target, const char *met)
{
    std::printf("RESULT\t%s\t%s\t%s\t%s\n", measurement.c_str(), value.c_str(), target.c_str(),
                met);
    std::fflush(stdout);
}

inline const char *met(bool ok)
{
    return ok ? "yes" : "no";
}

} // namespace bench
