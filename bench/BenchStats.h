// Figures the benchmarks print.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

// The p-quantile (0 to 1) by nearest rank; 0 for no values.
inline double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i =
        static_cast<size_t>(std::min<double>(v.size() - 1, std::floor(p * (v.size() - 1) + 0.5)));
    return v[i];
}
