#include "rounds.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace bench {

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    if (values.empty()) {
        return 0;
    }
    const size_t i = static_cast<size_t>(p * (values.size() - 1) + 0.5);
    return values[std::min(i, values.size() - 1)];
}

Rounds::Rounds(int rounds, const std::vector<Side>& sides) : times_(sides.size()) {
    for (int r = 0; r < rounds; ++r) {
        for (std::size_t k = 0; k < sides.size(); ++k) {
            const std::size_t side = (r + k) % sides.size();
            times_[side].push_back(sides[side]());
        }
    }
}

double Rounds::Median(std::size_t side) const {
    return bench::Median(times_.at(side));
}

double Rounds::Ratio(std::size_t side, std::size_t reference) const {
    std::vector<double> ratios;
    const std::vector<double>& value = times_.at(side);
    const std::vector<double>& base = times_.at(reference);
    for (std::size_t r = 0; r < value.size(); ++r) {
        if (base[r] > 0) {
            ratios.push_back(value[r] / base[r]);
        }
    }
    return bench::Median(ratios);
}

void Header(const char* title) {
    std::printf("\n%s\n", title);
}

void Row(const char* name, double value, const char* unit, const char* reference, double ratio,
         const char* goal) {
    if (ratio > 0) {
        std::printf("%-52s %12.1f %-3s %-34s %7.2f  %s\n", name, value, unit, reference, ratio,
                    goal);
    } else {
        std::printf("%-52s %12.1f %-3s %-34s %7s  %s\n", name, value, unit, reference, "-", goal);
    }
}

}  // namespace bench
