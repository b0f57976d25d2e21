#pragma once

#include "materials/MaterialComponent.h"

#include <vector>

namespace materials {

// A two-column function of x (1/Angstrom): the incoherent scattering function
// S(x) or the atomic form factor F(x). Linear through the first two points,
// log-log interpolation between tabulated points above, the last value beyond.
class TScatterData : public TBasicMaterialPropertiesComponent {
public:
    // Lines "x y"; '#' starts a comment; throws "Error parsing: " + line and
    // "Not enough lines" for a file without points.
    bool LoadDataFromStream(std::istream& in) override;
    double Evaluate(double x) const;
    double FirstX() const { return x0_; }
    double LastX() const { return lastX_; }
    // The largest tabulated value (S(x) rises to the material's electron count).
    double MaxValue() const { return maxY_; }

private:
    double x0_ = 0.0, y0_ = 0.0, slope_ = 0.0;
    double linearEnd_ = 0.0;  // the second abscissa: below it the linear piece
    double lastX_ = 0.0, lastY_ = 0.0, maxY_ = 0.0;
    std::vector<double> lnX_, lnY_;  // points with x, y > 0, ascending in x
};

class TScatteringFunctionCoefficients : public TScatterData {};
class TAtomicFormFactorCoefficients : public TScatterData {};

} // namespace materials
