#pragma once

#include <memory>
#include <vector>

#include "detectors/MatrixDetector.h"
#include "geometry/IntersectionManager.h"
#include "geometry/SceneObjects.h"

// A parallelogram of pixels: corners A, B, C, the columns running along A->B and the
// rows along A->C. It is its own intersection manager: a ray that meets it enters and
// leaves at the same distance. A particle reaching it passes the model's type filter
// and the collimator, then registers at its pixel coordinates.
class TPlaneDetector : public TTraceableObject, public MatrixDetector, public geometry::IntersectionManager {
public:
    static constexpr int Detection = 1000;

    unsigned Kinds() const override { return KindDetector; }
    bool IsDetector() const override { return true; }
    int Transport(TParticle& particle, const geometry::Segment& entry, double opticalDepth,
                  TRandomNumbersGenerator& rng, std::deque<std::unique_ptr<TParticle>>& secondaries) override;
    int TransportElectron(TParticle& particle, TRandomNumbersGenerator& rng,
                          std::deque<std::unique_ptr<TParticle>>& secondaries) override;
    // Registers a particle that is on the plane: Detection, or -1 when it is filtered
    // out or collimated away.
    int Detect(TParticle& particle);
    // The same through the model's type filter, the collimator and the registrator,
    // when any of them has a say.
    int DetectWeighted(TParticle& particle, TRandomNumbersGenerator* rng);
    // Whether a particle of that type registers as it arrives: the model takes it
    // unchanged, and neither a collimator nor a registrator has a say.
    bool RegistersAsItIs(std::uint32_t type) const {
        return Model->TakesUnchanged(type) && !(CosHalfCone > -1) && !Registrator;
    }
    void Flush() override;
    void BeginRun(std::uint64_t firstBatch) override;

    geometry::TCoord<double> GetPixelPosition(std::uint64_t index,
                                              TRandomNumbersGenerator& rng) const override;
    bool IsEmpty() const override { return false; }
    void Intersect(const geometry::Ray& ray, std::vector<geometry::Hit>& hits,
                   double reach = 0) const override;
    bool GetObjectBox(geometry::TBoundingBox<double>& box) const override;

    // The matrix's state, then the registrator's entry, if there is one.
    void InternalWrite(std::ostream& stream) override;
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override;

    // The registrator of the `Registrator` sub-section, if any.
    ParticleRegistrator* GetRegistrator() const { return Registrator.Get(); }
    // Hands the registrator a particle that passed the collimator (weight: the
    // collimation cosine), before or after the detector model as it asks; `rng`, the
    // tracer's generator, may be null outside a tracer.
    void FeedRegistrator(const TParticle& particle, double collimation, TRandomNumbersGenerator* rng = nullptr);
    bool NeedsAnalogHistories() const override { return Registrator && Registrator->NeedsAnalogHistories(); }

    // The traceable lines, the detector lines, the plane's, then the registrator's.
    void PrintSummary(std::ostream& os) const override;
    void PrintResults(std::ostream& os, double particles) const override;

    // Row and column coordinates (pixel units) of a point on the plane.
    void PixelCoordinates(const geometry::TCoord<double>& point, double& row, double& column) const;
    // The collimator's verdict for a particle arriving in this direction; `cosine`
    // receives the incidence cosine, the model's angle.
    bool Collimate(const TParticle& particle, double& cosine) const;

    const geometry::TCoord<double>& PointA() const { return A; }
    const geometry::TCoord<double>& PointB() const { return B; }
    const geometry::TCoord<double>& PointC() const { return C; }

    bool SlitCollimator = false;
    bool VerticalSlit = false;
    bool BackSide = false;
    double CosHalfCone = -1;

protected:
    TPlaneDetector() { Priority = 2147483647; }
    TPlaneDetector(const TPlaneDetector&) = default;

    // Reads the detector, matrix and plane keys and takes the model from the scene;
    // errors get "TPlaneDetector: " in front.
    void ReadPlaneKeys(const inifiles::TIniFileSection& section, IScene& scene);
    // The registrator's file, baseName + "_Registrator0".
    void WriteRegistrator(const std::string& baseName, const ImageWriterOptions& options) const;

    bool HandOverRegistrations(std::unique_ptr<ParticleRegistrator>& part) override;
    void CommitRegistrations(const ParticleRegistrator& part) override;
    void ReadRegistrations(std::istream& stream, std::uint64_t size,
                           std::unique_ptr<ParticleRegistrator>& part) override;
    bool CanForwardHandovers() const override { return !Registrator || Registrator->PartTravels(); }

private:
    // Transport's general way, out of line.
    [[gnu::noinline]] int MoveAndDetect(TParticle& particle, double distance, TRandomNumbersGenerator& rng);
    void SetCorners(const geometry::TCoord<double>& a, const geometry::TCoord<double>& b,
                    const geometry::TCoord<double>& c);

    geometry::TCoord<double> A, B, C;
    // Derived: the edges' dual vectors (point - A to edge fractions) and unit normal.
    geometry::TCoord<double> DualAB, DualAC, Normal;
    // The dual vectors' components, (AC, AB) side by side.
    using DoublePair = double __attribute__((vector_size(16)));
    DoublePair DualX{}, DualY{}, DualZ{};
    RegistratorSlot Registrator;
};
