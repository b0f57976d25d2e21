#pragma once

#include "random/RandomNumbersGenerator.h"

namespace interactions {

// Angular deflection by multiple elastic scattering over one condensed step.
// Goudsmit and Saunderson's theory gives the step's mean deflection exactly:
// <cos theta> = exp(-s sigma_1), with sigma_1 the first transport cross
// section per length of screened Rutherford scattering. The angle is drawn
// from a Wentzel (screened-Rutherford-shaped) distribution with that mean,
// the model of J. M. Fernandez-Varea et al., Nucl. Instr. Meth. B 73 (1993)
// 447, so the deflection is exact in its first moment at every step length.
class TMultipleScattering {
public:
    // The Wentzel screening parameter B whose distribution has
    // <1 - cos theta> = `meanOneMinusMu` (0 < value < 1).
    static double WentzelParameter(double meanOneMinusMu);
    // <1 - cos theta> of the Wentzel distribution with parameter B.
    static double WentzelMeanOneMinusMu(double B);
    // cos theta from the Wentzel distribution, density proportional to 1 / (1 - mu + 2B)^2.
    static double SampleWentzel(double B, TRandomNumbersGenerator& rng);
    // cos theta after a step whose first transport number is s sigma_1.
    static double SampleCosTheta(double transportNumber, TRandomNumbersGenerator& rng);
};

} // namespace interactions
