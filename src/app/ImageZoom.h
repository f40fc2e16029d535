#pragma once
// The Image page's zoom: a factor shared by every image view, moved in steps from 25 % to
// 1600 %, or the factor that makes the whole layout of the views fit the page ("Fit"), kept
// as a mode so that each next picture is fitted too.
#include <QSize>
#include <cstdint>

namespace vorlr {

class ImageZoom {
public:
    static constexpr double kSteps[] = {0.25, 0.5, 1, 2, 4, 8, 16};

    double factor() const { return factor_; }
    bool fitting() const { return fitting_; }
    // The next step above / below the factor (from Fit: above / below the fit factor); the
    // factor stays at the ends.
    void stepIn();
    void stepOut();
    void reset() { set(1); }
    void set(double factor) {
        factor_ = factor;
        fitting_ = false;
    }
    // Fit mode, at the factor that fits layout (the views with their margins at 100 %) into
    // viewport, keeping the aspect ratio.
    void fit(QSize layout, QSize viewport);

    // A coordinate or length at 100 % shown at factor: rounded down, within widget limits.
    static int scaled(int64_t value, double factor);
    // The factor that fits layout into viewport.
    static double fitFactor(QSize layout, QSize viewport);

private:
    double factor_ = 1;
    bool fitting_ = false;
};

}  // namespace vorlr
