#pragma once

// The figures every benchmark prints: the median of its runs and their spread.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// "median ms (min-max)" of times given in units that scale turns into milliseconds (1000 for
// seconds), with the given decimals.
inline std::string spread(const std::vector<double>& values, double scale = 1, int decimals = 2)
{
    if (values.empty())
        return "-";
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    char text[96];
    std::snprintf(text, sizeof text, "%7.*f ms (%.*f-%.*f)", decimals, median(values) * scale,
                  decimals, *low * scale, decimals, *high * scale);
    return text;
}

} // namespace bench
