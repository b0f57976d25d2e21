#pragma once

#include "random/RandomNumbersGenerator.h"

namespace interactions {

// Angular deflection by multiple elastic scattering over one condensed step.
// Goudsmit and Saunderson's theory gives the step's first two moments
// exactly: <P_l(cos theta)> = exp(-s sigma_l), with sigma_l the transport
// cross sections per length. The angle is drawn from the modified Wentzel
// distribution of J. M. Fernandez-Varea et al., Nucl. Instr. Meth. B 73
// (1993) 447: a Wentzel (screened-Rutherford-shaped) distribution with the
// exact mean, mixed with a fixed deflection at the mean where that brings the
// second moment down to the exact one, so both moments hold at every step
// length (when the Wentzel one's second moment is too small, it is used alone).
class TMultipleScattering {
public:
    // The Wentzel screening parameter B whose distribution has
    // <1 - cos theta> = `meanOneMinusMu` (0 < value < 1).
    static double WentzelParameter(double meanOneMinusMu);
    // <1 - cos theta> of the Wentzel distribution with parameter B.
    static double WentzelMeanOneMinusMu(double B);
    // cos theta from the Wentzel distribution, density proportional to 1 / (1 - mu + 2B)^2.
    static double SampleWentzel(double B, TRandomNumbersGenerator& rng);
    // The same from a given uniform number u in [0, 1).
    static double SampleWentzel(double B, double u);
    // <1 - P_2(cos theta)> of the Wentzel distribution with parameter B.
    static double WentzelMeanOneMinusP2(double B);
    // cos theta after a step with transport numbers s sigma_1 and s sigma_2.
    static double SampleCosTheta(double transport1, double transport2, TRandomNumbersGenerator& rng);
};

} // namespace interactions
