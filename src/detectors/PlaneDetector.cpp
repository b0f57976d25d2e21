#include "detectors/PlaneDetector.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

#include "datafiles/ObjectIO.h"
#include "detectors/DetectorModel.h"
#include "geometry/GeometryReader.h"
#include "geometry/IntersectionList.h"
#include "geometry/Placement.h"
#include "geometry/Scene.h"
#include "inifiles/IniValues.h"
#include "random/RandomNumbersGenerator.h"

using geometry::TCoord;

namespace {

// "( x, y, z )" without signs.
std::string Vector(const TCoord<double>& v) {
    std::ostringstream os;
    os << "( " << v.x << ", " << v.y << ", " << v.z << " )";
    return os.str();
}

std::uint64_t PixelsAlong(double length, double pitch) {
    return std::uint64_t(std::floor(length / pitch + 0.5));
}

// Detect, inlined into Detect and TransportElectron (Transport has its own fast way):
// most particles reach an ideal, uncollimated detector and register as they are.
inline int DetectOnPlane(TPlaneDetector& plane, TParticle& particle, TRandomNumbersGenerator* rng) {
    if (!plane.RegistersAsItIs(particle.Type))
        return plane.DetectWeighted(particle, rng);
    double row = 0, column = 0;
    plane.PixelCoordinates(particle.Position, row, column);
    plane.Queue(row, column, particle, particle.Energy, particle.Weight);
    return TPlaneDetector::Detection;
}

// A particle's field read on its own. The tracer has often just stored it on its own,
// and a wider load spanning it and a neighbour would wait until that store reaches the
// cache; the empty asm keeps the compiler from pairing such loads.
inline double OnItsOwn(double value) {
#if defined(__GNUC__) && defined(__x86_64__)
    asm("" : "+x"(value));
#endif
    return value;
}

} // namespace

void TPlaneDetector::ReadPlaneKeys(const inifiles::TIniFileSection& section, IScene& scene) {
    ReadDetectorKeys(section);
    ReadMatrixKeys(section);
    try {
        std::string model;
        inifiles::ReadOptional(section, "DetectorModel", model);
        Model = scene.GetDetectorModel(model);
        ReadTraceableKeys(section);
        // Like a part's: the index the scene's traceable list gives the detector.
        ObjectID = std::uint32_t(scene.TraceableCount());
        TCoord<double> a, side1, side2;
        geometry::ReadParallelogram(section, a, side1, side2);
        const geometry::TAffineTransform placement = geometry::BuildPlacement(section, false);
        SetCorners(placement.Apply(a), placement.Apply(a + side1), placement.Apply(a + side2));
        if (const inifiles::TIniFileVariable* pitchKey = section.TryFindVariable("PixelPitch")) {
            double pitch = 0;
            inifiles::GetValue(*pitchKey, pitch);
            pitch =
                inifiles::ConvertLength(pitch, pitchKey->GetLengthUnit(), inifiles::LengthUnit::Centimetre);
            if (!(pitch > 0))
                throw std::runtime_error("PixelPitch must be positive");
            Columns = PixelsAlong(Norm(B - A), pitch);
            Rows = PixelsAlong(Norm(C - A), pitch);
            if (Columns == 0 || Rows == 0)
                throw std::runtime_error("PixelPitch is larger than the detector");
        }
        if (Columns == 0)
            throw std::runtime_error("PixelColumns must be at least 1");
        if (Rows == 0)
            throw std::runtime_error("PixelRows must be at least 1");
        inifiles::ReadOptional(section, "SlitCollimator", SlitCollimator);
        inifiles::ReadOptional(section, "VerticalSlit", VerticalSlit);
        inifiles::ReadOptional(section, "CosHalfCone", CosHalfCone);
        inifiles::ReadOptional(section, "BackSide", BackSide);
        if (const inifiles::TIniFileSection* registrator = section.TryFindSubsection("Registrator"))
            Registrator.Set(CreateRegistrator(*registrator, scene));
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("TPlaneDetector: ") + e.what());
    }
}

void TPlaneDetector::SetCorners(const TCoord<double>& a, const TCoord<double>& b, const TCoord<double>& c) {
    A = a;
    B = b;
    C = c;
    const TCoord<double> ab = B - A, ac = C - A;
    const TCoord<double> n = Cross(ac, ab);
    const double area = Norm(n);
    if (!(area > 1e-12 * Norm(ab) * Norm(ac)))
        throw std::runtime_error("The corners (VertexA, VertexB, VertexC or Side1, Side2) span no plane");
    Normal = n * (1 / area);
    // Dual vectors: DualAB . ab = 1, DualAB . ac = 0, and the same for DualAC.
    const TCoord<double> u = Cross(ac, n), v = Cross(n, ab);
    DualAB = u * (1 / Dot(ab, u));
    DualAC = v * (1 / Dot(ac, v));
    DualX = DoublePair{DualAC.x, DualAB.x};
    DualY = DoublePair{DualAC.y, DualAB.y};
    DualZ = DoublePair{DualAC.z, DualAB.z};
}

void TPlaneDetector::PixelCoordinates(const TCoord<double>& point, double& row, double& column) const {
    // Row and column side by side, each lane as Dot(point - A, dual) * limit: the same
    // roundings in half the instructions.
    const TCoord<double> q = point - A;
    DoublePair s =
        (DoublePair{q.x, q.x} * DualX + DoublePair{q.y, q.y} * DualY) + DoublePair{q.z, q.z} * DualZ;
    s *= DoublePair{RowLimit, ColumnLimit};
    row = s[0];
    column = s[1];
}

void TPlaneDetector::Intersect(const geometry::Ray& ray, std::vector<geometry::Hit>& hits, double) const {
    const TCoord<double> d = geometry::DirectionVector(ray.Direction);
    const double along = Dot(d, Normal);
    if (along == 0)
        return;
    const double t = Dot(A - ray.Position, Normal) / along;
    if (!(t >= 0))
        return;
    const TCoord<double> q = ray.Position + d * t - A;
    // Rays aimed at an edge or corner must not slip past by rounding.
    const double u = Dot(q, DualAB), v = Dot(q, DualAC), slack = 1e-12;
    if (!(u >= -slack && u <= 1 + slack && v >= -slack && v <= 1 + slack))
        return;
    hits.push_back(geometry::Hit{t, ObjectID, true});
    hits.push_back(geometry::Hit{t, ObjectID, false});
}

bool TPlaneDetector::GetObjectBox(geometry::TBoundingBox<double>& box) const {
    box = geometry::TBoundingBox<double>();
    box.Add(A);
    box.Add(B);
    box.Add(C);
    box.Add(B + C - A);
    return true;
}

bool TPlaneDetector::Collimate(const TParticle& particle, double& cosine) const {
    const TCoord<double> d = -particle.DirectionVector();
    double c = Dot(d, Normal);
    cosine = c;
    if (CosHalfCone <= -1)
        return true;
    if (SlitCollimator) {
        const TCoord<double> edge = VerticalSlit ? B - A : C - A;
        const TCoord<double> s = edge * (1 / Norm(edge));
        const TCoord<double> p = s * Dot(d, s) + Normal * c;
        c = Dot(p, Normal) / Norm(p);
    }
    if (!(c >= -1.0000000001 && c <= 1.0000000001))
        throw std::runtime_error("TPD::Collimation: Impossible cosine value");
    // BackSide accepts particles from behind the plane instead of those from the front.
    if (BackSide)
        c = -c;
    return c >= CosHalfCone;
}

int TPlaneDetector::Detect(TParticle& particle) {
    return DetectOnPlane(*this, particle, nullptr);
}

int TPlaneDetector::DetectWeighted(TParticle& particle, TRandomNumbersGenerator* rng) {
    if (!Model->Accepts(particle.Type))
        return -1;
    double cosine = 1;
    if (Model->IsAngleCorrected() || CosHalfCone > -1) {
        // Only here does the cosine need an address.
        double c = 1;
        if (!Collimate(particle, c))
            return -1;
        cosine = c;
    }
    if (Registrator)
        FeedRegistrator(particle, cosine, rng);
    double row = 0, column = 0;
    PixelCoordinates(particle.Position, row, column);
    Register(row, column, particle, cosine);
    return Detection;
}

void TPlaneDetector::FeedRegistrator(const TParticle& particle, double collimation,
                                     TRandomNumbersGenerator* rng) {
    if (Registrator->Takes() == ParticleRegistrator::Stage::Arriving) {
        if (rng != nullptr)
            Registrator->RegisterParticleWith(particle, collimation, *rng);
        else
            Registrator->RegisterParticle(particle, collimation);
        return;
    }
    TParticle detected = particle;
    if (!Model->IsIdeal())
        Model->Apply(detected.Type, detected.Energy, detected.Weight, collimation);
    Registrator->RegisterParticle(detected, detected.Weight);
}

bool TPlaneDetector::HandOverRegistrations(std::unique_ptr<ParticleRegistrator>& part) {
    if (!Registrator)
        return false;
    Registrator->HandOver(part);
    return true;
}

void TPlaneDetector::CommitRegistrations(const ParticleRegistrator& part) {
    Registrator->Merge(part);
}

void TPlaneDetector::ReadRegistrations(std::istream& stream, std::uint64_t size,
                                       std::unique_ptr<ParticleRegistrator>& part) {
    if (!Registrator)
        throw std::runtime_error("TPlaneDetector: forwarded registrations without a registrator");
    if (!part)
        part = Registrator->Clone();
    part->InternalRead(stream, size);
}

void TPlaneDetector::BeginRun(std::uint64_t firstBatch) {
    MatrixDetector::BeginRun(firstBatch);
    if (Registrator && !IsCopy())
        Registrator->BeginRun(firstBatch == 0);
}

void TPlaneDetector::Flush() {
    MatrixDetector::Flush();
    if (Registrator && !IsCopy())
        Registrator->EndOfRun();
}

void TPlaneDetector::WriteRegistrator(const std::string& baseName, const ImageWriterOptions& options) const {
    if (Registrator)
        Registrator->WriteSpectrum(baseName + "_Registrator0", options);
}

int TPlaneDetector::Transport(TParticle& particle, const geometry::Segment& entry, double,
                              TRandomNumbersGenerator& rng, std::deque<std::unique_ptr<TParticle>>&) {
    // Most particles reach an ideal, uncollimated plane with their direction's sines
    // and cosines cached: those register without a call, which spares the saving of
    // registers that any call on the way would cost every particle.
    if (!particle.Direction.IsCached() || !RegistersAsItIs(particle.Type))
        return MoveAndDetect(particle, entry.From, rng);
    // As particle.Move(entry.From), each field read on its own.
    const geometry::TSphericalAngle& d = particle.Direction;
    const double sinTheta = OnItsOwn(d.Theta.Sin()), t = entry.From;
    TCoord<double>& position = particle.Position;
    position = TCoord<double>(OnItsOwn(position.x) + sinTheta * OnItsOwn(d.Phi.Cos()) * t,
                              OnItsOwn(position.y) + sinTheta * OnItsOwn(d.Phi.Sin()) * t,
                              OnItsOwn(position.z) + OnItsOwn(d.Theta.Cos()) * t);
    double row = 0, column = 0;
    PixelCoordinates(position, row, column);
    Queue(row, column, particle, OnItsOwn(particle.Energy), OnItsOwn(particle.Weight));
    return Detection;
}

int TPlaneDetector::MoveAndDetect(TParticle& particle, double distance, TRandomNumbersGenerator& rng) {
    particle.Move(distance);
    return DetectOnPlane(*this, particle, &rng);
}

int TPlaneDetector::TransportElectron(TParticle& particle, TRandomNumbersGenerator& rng,
                                      std::deque<std::unique_ptr<TParticle>>&) {
    return DetectOnPlane(*this, particle, &rng);
}

TCoord<double> TPlaneDetector::GetPixelPosition(std::uint64_t index, TRandomNumbersGenerator& rng) const {
    if (index >= Rows * Columns)
        throw std::runtime_error("Invalid array index!");
    double u[2];
    rng.Generate(u, 2);
    const double row = double(index / Columns) + u[1], column = double(index % Columns) + u[0];
    return A + (B - A) * (column / double(Columns)) + (C - A) * (row / double(Rows));
}

void TPlaneDetector::PrintSummary(std::ostream& os) const {
    TTraceableObject::PrintSummary(os);
    PrintDetectorSummary(os);
    const TCoord<double> ab = B - A, ac = C - A;
    os << "   Point A: " << Vector(A) << " cm, Center: " << Vector(A + (ab + ac) * 0.5) << " cm\n";
    os << "   Point B: " << Vector(B) << " cm, Side1: " << Vector(ab) << " cm\n";
    os << "   Point C: " << Vector(C) << " cm, Side2: " << Vector(ac) << " cm\n";
    os << "   Pixel Count AB Edge (columns): " << Columns << " [" << 10 * Norm(ab) / double(Columns)
       << " mm pixel pitch]\n";
    os << "   Pixel Count AC Edge (rows): " << Rows << " [" << 10 * Norm(ac) / double(Rows)
       << " mm pixel pitch]\n";
    os << "   Cosine Of Collimation Angle: " << CosHalfCone << "\n";
    os << "   Slit Collimator: " << int(SlitCollimator) << (VerticalSlit ? ", vertical" : "") << "\n";
    os << "   Back Side: " << int(BackSide) << "\n";
    if (Registrator)
        Registrator->PrintSummary(os);
}

void TPlaneDetector::PrintResults(std::ostream& os, double particles) const {
    if (!Name.empty())
        os << "   Name: " << Name << "\n";
    MatrixDetector::PrintResults(os, particles);
}

void TPlaneDetector::InternalWrite(std::ostream& stream) {
    MatrixDetector::InternalWrite(stream);
    if (Registrator)
        WriteObject(stream, *Registrator.Get());
}

void TPlaneDetector::InternalRead(std::istream& stream, std::uint64_t payloadSize) {
    MatrixDetector::InternalRead(stream, payloadSize);
    const std::uint64_t rest = payloadSize - MatrixStateSize();
    if (!Registrator) {
        if (rest != 0)
            throw std::runtime_error("TPlaneDetector: saved state has a registrator, the detector none");
        return;
    }
    if (rest < EntryHeader::FixedSize)
        throw std::runtime_error("TPlaneDetector: saved state has no registrator");
    try {
        ReadObject(stream, *Registrator.Get());
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("Registrator: ") + e.what());
    }
}
