#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "geometry/Coord.h"

struct ImageWriterOptions;
class TPlaneDetector;

// What image normalisation needs of the run's first simple source.
struct SourceBeam {
    geometry::TCoord<double> Position; // emission point
    double HalfConeAngle = 0;          // radians
    double MeanEnergy = 0;             // keV
};

// The open-field count per emitted particle in the detector's centre pixel: the
// pixel's solid angle seen from the source over the solid angle of the source's cone
// (0 for a pencil beam, which has no cone to share).
double OpenFieldFactor(const TPlaneDetector& detector, const SourceBeam& source);

// Solid angle of the triangle (a, b, c) seen from `eye`.
double TriangleSolidAngle(const geometry::TCoord<double>& eye, const geometry::TCoord<double>& a,
                          const geometry::TCoord<double>& b, const geometry::TCoord<double>& c);

// Sets the image scales of `options` for `particles` emitted particles: 1/N with
// perParticle, else 1; with normalizeImages = K > 0, counts K / (N f) and energies
// K / (N f E), f the open-field factor and E the source's mean energy, so that the open
// field reads K (f = 0: 1/N, with a warning). Error images are multiplied by
// normalizeErrors (0: 1).
void SetImageScales(ImageWriterOptions& options, double particles, bool perParticle,
                    std::uint64_t normalizeImages, std::uint64_t normalizeErrors, double openField,
                    double meanEnergy, const std::function<void(const std::string&)>& warn);
