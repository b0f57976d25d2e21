#include "materials/ScatterData.h"

#include "materials/DataLines.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

namespace materials {

bool TScatterData::LoadDataFromStream(std::istream& in)
{
    loaded_ = false;
    std::vector<std::pair<double, double>> points;
    std::string line;
    while (NextDataLine(in, line)) {
        double v[2];
        if (ParseNumbers(line, v, 2) < 2)
            throw std::runtime_error("Error parsing: " + line);
        points.emplace_back(v[0], v[1]);
    }
    if (points.empty())
        throw std::runtime_error("Not enough lines");
    std::stable_sort(points.begin(), points.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    x0_ = points[0].first;
    y0_ = points[0].second;
    linearEnd_ = x0_;
    slope_ = 0.0;
    if (points.size() > 1 && points[1].first > x0_) {
        linearEnd_ = points[1].first;
        slope_ = (points[1].second - y0_) / (linearEnd_ - x0_);
    }
    lastX_ = points.back().first;
    lastY_ = points.back().second;
    maxY_ = std::max_element(points.begin(), points.end(), [](const auto& a, const auto& b) {
                return a.second < b.second;
            })->second;
    // Only positive points have logarithms; a leading (0, 0) lives in the linear piece.
    lnX_.clear();
    lnY_.clear();
    for (const auto& p : points) {
        if (p.first <= 0.0 || p.second <= 0.0)
            continue;
        const double lx = std::log(p.first);
        if (!lnX_.empty() && lx == lnX_.back()) {
            lnY_.back() = std::log(p.second);  // a repeated abscissa: the later value wins
            continue;
        }
        lnX_.push_back(lx);
        lnY_.push_back(std::log(p.second));
    }
    loaded_ = true;
    return true;
}

double TScatterData::Evaluate(double x) const
{
    if (x <= linearEnd_)
        return std::max(0.0, y0_ + slope_ * (x - x0_));  // no negative S or F from extrapolating towards 0
    if (x >= lastX_ || lnX_.size() < 2)
        return lastY_;
    const double lx = std::log(x);
    auto upper = std::upper_bound(lnX_.begin(), lnX_.end(), lx);
    if (upper == lnX_.begin())
        return std::exp(lnY_.front());
    if (upper == lnX_.end())
        return lastY_;
    const auto i = static_cast<std::size_t>(upper - lnX_.begin());
    const double t = (lx - lnX_[i - 1]) / (lnX_[i] - lnX_[i - 1]);
    return std::exp(lnY_[i - 1] + t * (lnY_[i] - lnY_[i - 1]));
}

} // namespace materials
