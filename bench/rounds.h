// Timing for the benchmarks: rounds of timed loops, a row and its reference
// measured in alternating rounds, and the table they are printed in.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace bench {

double Now();  // seconds, from the performance counter
double Median(std::vector<double> values);
double Percentile(std::vector<double> values, double p);

// The time per operation, in nanoseconds, of `count` calls of `op`.
template <typename Op>
double NsPerOp(int count, Op&& op) {
    const double start = Now();
    for (int i = 0; i < count; ++i) {
        op();
    }
    return (Now() - start) * 1e9 / count;
}

// One round of one side of a comparison: its own set-up, if any, and one
// timed loop, whose time it returns.
using Side = std::function<double()>;

// The rounds of a comparison, one time per side and round.
class Rounds {
public:
    // Runs every side once a round, starting with the next side each round:
    // a row and its reference then see the same moments of a shared
    // machine, and neither always runs first.
    Rounds(int rounds, const std::vector<Side>& sides);

    double Median(std::size_t side) const;
    // The median of the per-round ratios side / reference.
    double Ratio(std::size_t side, std::size_t reference) const;

private:
    std::vector<std::vector<double>> times_;  // [side][round]
};

void Header(const char* title);
void Row(const char* name, double value, const char* unit, const char* reference = "-",
         double ratio = 0, const char* goal = "");

}  // namespace bench
