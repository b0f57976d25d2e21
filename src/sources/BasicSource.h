#pragma once

#include <ostream>
#include <utility>

#include "geometry/AffineTransform.h"
#include "geometry/Coord.h"
#include "geometry/SceneObjects.h"
#include "interactions/Particle.h"
#include "interactions/ParticleSource.h"

namespace inifiles {
class TIniFileSection;
}

class TRandomNumbersGenerator;

// A particle source: where particles start (the emitting region, spanned by three
// side vectors in the source frame), in which directions (a cone around the frame's
// z axis, optionally cut by an angular window) and which particle type. The source
// builds every particle in its own record, so each tracer thread uses its own clone.
//
// Traps kept for compatibility with existing scene files: "BaseCenter" (or "Origin")
// is measured in the oriented source frame, not in the world; "BaseCenter" and the
// sides are centimetres whatever "LengthUnit" says (only "Origin" is converted).
class TBasicSource : public TBasicGeometricalObject, public IParticleSource {
public:
    unsigned Kinds() const override { return KindSource; }

    // (lowest, highest) energy in keV.
    virtual std::pair<double, double> GetEnergyRange() const = 0;
    // The record filled for a new history; Status 1 marks a rejected particle.
    virtual TParticle* Emit(TRandomNumbersGenerator& rng) = 0;
    // Sources that replay a list choose their particle by the history number, the
    // others ignore it.
    TParticle* EmitHistory(std::uint64_t /*history*/, TRandomNumbersGenerator& rng) override {
        return Emit(rng);
    }
    const char* GetTypeName() const override { return "BasicSource"; }
    void PrintSummary(std::ostream& os) const override;
    // Completes construction: point and flat flags, a negative cone angle as 0.
    virtual void Prepare();
    // With autoWindow the window is first fitted to the scene's geometry.
    void PrepareInScene(const IScene& scene, bool autoWindow) override;
    // The smallest window holding every direction from the emitting region's box to
    // every vertex of the scene and every box its intersection-manager objects report,
    // cut to the configured window. Geometry not wholly in front of the region keeps
    // the window and sends a note to the scene's messages.
    void FitWindow(const IScene& scene);

    const geometry::TAffineTransform& SourceToWorld() const { return ToWorld; }
    const geometry::TAffineTransform& WorldToSource() const { return ToSource; }
    // World position of the frame's origin and the world emission axis (unit length).
    geometry::TCoord<double> WorldOrigin() const { return ToWorld.Apply(LocalOrigin); }
    geometry::TCoord<double> WorldAxis() const;
    const geometry::TCoord<double>& GetSide(int i) const { return Sides[i]; }
    double GetHalfConeAngle() const { return HalfConeAngle; }
    bool IsPointSource() const { return PointSource; }
    bool IsFlat() const { return Flat; }
    bool HasWindow() const { return Window; }
    // Left, right, top, bottom (radians).
    const double* GetWindow() const { return WindowAngles; }
    std::uint32_t GetParticleType() const { return Particle.Type; }

protected:
    // Reads the keys; errors carry "TBasicSource: ".
    explicit TBasicSource(const inifiles::TIniFileSection& section);
    TBasicSource(const TBasicSource&) = default;

    // Whether a local direction passes the window (always true without one).
    bool InsideWindow(const geometry::TCoord<double>& d) const;

    geometry::TAffineTransform ToSource;
    geometry::TAffineTransform ToWorld;
    geometry::TCoord<double> LocalOrigin{0, 0, 0};
    geometry::TCoord<double> LocalAxis{0, 0, 1};
    geometry::TCoord<double> Sides[3];
    bool PointSource = false;
    bool Flat = false;
    double HalfConeAngle = -1;
    double CosHalfConeAngle = 1;
    TParticle Particle;
    bool Window = false;
    enum { Left, Right, Top, Bottom };
    double WindowAngles[4];

private:
    void ReadKeys(const inifiles::TIniFileSection& section);
    void ReadOrientation(const inifiles::TIniFileSection& section);
    // Emission tests every direction against the window: comparing tangents
    // spares the two atan2 calls, which then only settle the rare near-edge cases.
    void UpdateWindowTangents();
    bool WithinWindow(double a, double z, int low, int high) const;
    bool TangentsValid = false;
    double WindowTangents[4] = {0, 0, 0, 0};
};
