#include "app/ImageZoom.h"

#include <QWidget>
#include <algorithm>
#include <cmath>

namespace vorlr {

namespace {
// Factors that differ by less than this are the same step (a fit factor of 2.0000001 is 200 %).
constexpr double kSame = 1e-6;
}  // namespace

void ImageZoom::stepIn() {
    for (const double step : kSteps)
        if (step > factor_ + kSame) return set(step);
    set(std::max(factor_, kSteps[std::size(kSteps) - 1]));
}

void ImageZoom::stepOut() {
    for (auto it = std::rbegin(kSteps); it != std::rend(kSteps); ++it)
        if (*it < factor_ - kSame) return set(*it);
    set(std::min(factor_, kSteps[0]));
}

void ImageZoom::fit(QSize layout, QSize viewport) {
    factor_ = fitFactor(layout, viewport);
    fitting_ = true;
}

int ImageZoom::scaled(int64_t value, double factor) {
    const double v = std::floor(static_cast<double>(value) * factor + kSame);
    return static_cast<int>(std::clamp(v, 0.0, double(QWIDGETSIZE_MAX)));
}

double ImageZoom::fitFactor(QSize layout, QSize viewport) {
    if (layout.width() <= 0 || layout.height() <= 0 || viewport.isEmpty()) return 1;
    return std::min(double(viewport.width()) / layout.width(),
                    double(viewport.height()) / layout.height());
}

}  // namespace vorlr
