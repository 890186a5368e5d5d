#include "predicates.h"

#include <array>
#include <cmath>

namespace torvel::geometry::detail {
namespace {

// Error-free transformations (Knuth's two-sum, Dekker's product). They rely on the build's
// -ffp-contract=off: a fused multiply-add would break them.
void two_sum(double a, double b, double& sum, double& err) {
    sum = a + b;
    const double bv = sum - a;
    const double av = sum - bv;
    err = (a - av) + (b - bv);
}

void split(double a, double& hi, double& lo) {
    constexpr double kSplitter = 134217729.0;  // 2^27 + 1
    const double c = kSplitter * a;
    hi = c - (c - a);
    lo = a - hi;
}

void two_product(double a, double b, double& product, double& err) {
    product = a * b;
    double ah = 0, al = 0, bh = 0, bl = 0;
    split(a, ah, al);
    split(b, bh, bl);
    err = al * bl - (((product - ah * bh) - al * bh) - ah * bl);
}

// A nonoverlapping expansion, components in increasing magnitude, zeros dropped (Shewchuk's
// Grow-Expansion). Its sign is the sign of its largest component.
class Expansion {
public:
    void add(double b) {
        double q = b;
        int k = 0;
        for (int i = 0; i < size_; ++i) {
            double sum = 0, err = 0;
            two_sum(q, parts_[static_cast<std::size_t>(i)], sum, err);
            if (err != 0) parts_[static_cast<std::size_t>(k++)] = err;
            q = sum;
        }
        if (q != 0) parts_[static_cast<std::size_t>(k++)] = q;
        size_ = k;
    }
    void add_product(double a, double b) {
        double p = 0, e = 0;
        two_product(a, b, p, e);
        add(e);
        add(p);
    }
    int sign() const {
        if (size_ == 0) return 0;
        return parts_[static_cast<std::size_t>(size_ - 1)] > 0 ? 1 : -1;
    }

private:
    std::array<double, 16> parts_{};
    int size_ = 0;
};

}  // namespace

int orient(Point2 a, Point2 b, Point2 c) {
    const double left = (a.x - c.x) * (b.y - c.y);
    const double right = (a.y - c.y) * (b.x - c.x);
    const double det = left - right;
    // Shewchuk's bound for this evaluation order: (3 + 16 eps) eps (|left| + |right|).
    constexpr double kEps = 1.1102230246251565e-16;
    constexpr double kBound = (3.0 + 16.0 * kEps) * kEps;
    const double bound = kBound * (std::fabs(left) + std::fabs(right));
    if (det > bound) return 1;
    if (-det > bound) return -1;
    // (ax - cx)(by - cy) - (ay - cy)(bx - cx) expanded into products of the inputs (cx cy cancels).
    Expansion e;
    e.add_product(a.x, b.y);
    e.add_product(-a.x, c.y);
    e.add_product(-c.x, b.y);
    e.add_product(-a.y, b.x);
    e.add_product(a.y, c.x);
    e.add_product(c.y, b.x);
    return e.sign();
}

}  // namespace torvel::geometry::detail
