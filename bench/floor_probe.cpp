// The floor of the regression metrics: per row, the two platform
// logarithms the metrics need, of the values narrowed to f32 and widened
// back, and one in-order f64 sum of the squared difference. Nothing else
// the batch function does (seven more sums, the conversions, the result)
// is here. Built and loaded by bench_floor.py.
#include <cmath>
#include <cstddef>

extern "C" double two_logs_in_order(const double* y, const double* p, std::size_t n) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = static_cast<double>(static_cast<float>(y[i]));
        const double b = static_cast<double>(static_cast<float>(p[i]));
        const double d = std::log(a + 1.0) - std::log(b + 1.0);
        sum += d * d;
    }
    return sum;
}
