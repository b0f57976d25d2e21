#include "sources/BasicSource.h"

#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

#include "geometry/CoordValues.h"
#include "geometry/Placement.h"
#include "geometry/Scene.h"
#include "inifiles/IniValues.h"

namespace {

const double kPi = 4.0 * std::atan(1.0);

std::uint32_t ParseParticleType(const std::string& word) {
    std::string lower;
    for (unsigned char c : word)
        lower += static_cast<char>(std::tolower(c));
    if (lower == "photon")
        return ParticlePhoton;
    if (lower == "electron")
        return ParticleElectron;
    if (lower == "positron")
        return ParticlePositron;
    throw std::runtime_error("Unknown particle type");
}

const char* ParticleTypeName(std::uint32_t type) {
    switch (type) {
    case ParticlePhoton:
        return "Photon";
    case ParticleElectron:
        return "Electron";
    case ParticlePositron:
        return "Positron";
    default:
        return "Unknown";
    }
}

// "( a, b )" with the numbers signed.
void PrintSignedPair(std::ostream& os, double a, double b) {
    const auto flags = os.flags();
    os << "( " << std::showpos << a << ", " << b;
    os.flags(flags);
    os << " )";
}

} // namespace

TBasicSource::TBasicSource(const inifiles::TIniFileSection& section) : WindowAngles{-kPi, kPi, kPi, -kPi} {
    try {
        ReadKeys(section);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("TBasicSource: ") + e.what());
    }
}

void TBasicSource::ReadKeys(const inifiles::TIniFileSection& section) {
    ReadName(section);
    std::string type = "photon";
    inifiles::ReadOptional(section, "ParticleType", type);
    Particle.Type = ParseParticleType(type);
    ReadOrientation(section);

    geometry::TCoord<double> center;
    if (!inifiles::ReadOptional(section, "BaseCenter", center)) {
        if (const inifiles::TIniFileVariable* origin = section.TryFindVariable("Origin")) {
            geometry::GetValue(*origin, center);
            center = inifiles::ToInternalLength(center, origin->GetLengthUnit());
        }
    }
    ToWorld = ToWorld * geometry::TAffineTransform::Translation(center);
    ToSource = geometry::TAffineTransform::Translation(-center) * ToSource;

    if (inifiles::ReadOptional(section, "ConeAngle", HalfConeAngle) && HalfConeAngle > kPi)
        throw std::runtime_error("ConeAngle is a half angle in radians and must not exceed pi: " +
                                 section.FindVariable("ConeAngle").GetValue());
    CosHalfConeAngle = std::cos(HalfConeAngle);
    static const char* const sideKeys[3] = {"Side1", "Side2", "Side3"};
    for (int i = 0; i < 3; ++i)
        inifiles::ReadOptional(section, sideKeys[i], Sides[i]);

    static const char* const windowKeys[4] = {"WindowLeft", "WindowRight", "WindowTop", "WindowBottom"};
    for (int i = 0; i < 4; ++i)
        if (inifiles::ReadOptional(section, windowKeys[i], WindowAngles[i]))
            Window = true;
    if (WindowAngles[Left] > WindowAngles[Right] || WindowAngles[Bottom] > WindowAngles[Top])
        throw std::runtime_error("Source window configuration leaves no opening");
    UpdateWindowTangents();
}

// "Direction" is either (theta, phi) in radians or a direction vector (x, y, z);
// without it the placement keys orient the source.
void TBasicSource::ReadOrientation(const inifiles::TIniFileSection& section) {
    const inifiles::TIniFileVariable* direction = section.TryFindVariable("Direction");
    if (direction == nullptr) {
        ToWorld = geometry::BuildPlacement(section, false);
        ToSource = geometry::BuildPlacement(section, true);
        return;
    }
    std::istringstream stream(direction->GetValue());
    double values[3];
    const std::size_t count = inifiles::ReadTupleText(stream, values, 2, 3);
    if (count == 0)
        throw std::runtime_error("Problem getting Direction as spherical angle or vector: " +
                                 direction->GetValue());
    geometry::TSphericalAngle angle(values[0], values[1]);
    if (count == 3) {
        const geometry::TCoord<double> v(values[0], values[1], values[2]);
        const double length = geometry::Norm(v);
        if (!(length > 0) || !std::isfinite(length))
            throw std::runtime_error("Direction must not be the zero vector: " + direction->GetValue());
        angle = geometry::TSphericalAngle(std::acos(v.z / length), std::atan2(v.y, v.x));
    }
    ToWorld = geometry::TAffineTransform::LocalToWorld(geometry::TCoord<double>(), angle);
    ToSource = geometry::TAffineTransform::WorldToLocal(geometry::TCoord<double>(), angle);
}

void TBasicSource::Prepare() {
    const geometry::TCoord<double> zero;
    PointSource = Sides[0] == zero && Sides[1] == zero && Sides[2] == zero;
    Flat = !PointSource && Sides[2] == zero;
    if (HalfConeAngle < 0) {
        HalfConeAngle = 0;
        CosHalfConeAngle = 1;
    }
}

void TBasicSource::PrepareInScene(const IScene& scene, bool autoWindow) {
    if (autoWindow)
        FitWindow(scene);
    Prepare();
}

geometry::TCoord<double> TBasicSource::WorldAxis() const {
    const geometry::TCoord<double> axis = ToWorld.ApplyToVector(LocalAxis);
    return axis * (1.0 / geometry::Norm(axis));
}

bool TBasicSource::InsideWindow(const geometry::TCoord<double>& d) const {
    if (!Window)
        return true;
    return WithinWindow(d.x, d.z, Left, Right) && WithinWindow(d.y, d.z, Bottom, Top);
}

void TBasicSource::UpdateWindowTangents() {
    // Only for z > 0 is atan2(a, z) = atan(a / z), monotone in a / z, on (-pi/2, pi/2).
    TangentsValid = true;
    for (int i = 0; i < 4; ++i) {
        TangentsValid = TangentsValid && std::abs(WindowAngles[i]) < 0.5 * kPi;
        WindowTangents[i] = std::tan(WindowAngles[i]);
    }
}

namespace {

// Sign of atan(t) minus the angle whose tangent is given, or 0 when the tangents are
// too close for their rounding to decide.
int CompareTangent(double t, double tangent) {
    const double margin = 1e-9 * (1.0 + std::abs(tangent));
    return t > tangent + margin ? 1 : t < tangent - margin ? -1 : 0;
}

} // namespace

// Whether atan2(a, z) lies within [WindowAngles[low], WindowAngles[high]].
bool TBasicSource::WithinWindow(double a, double z, int low, int high) const {
    if (TangentsValid && z > 0) {
        const double t = a / z;
        const int fromLow = CompareTangent(t, WindowTangents[low]);
        const int toHigh = -CompareTangent(t, WindowTangents[high]);
        if (fromLow < 0 || toHigh < 0)
            return false;
        if (fromLow > 0 && toHigh > 0)
            return true;
    }
    const double angle = std::atan2(a, z);
    return WindowAngles[low] <= angle && angle <= WindowAngles[high];
}

void TBasicSource::FitWindow(const IScene& scene) {
    // Corners of the box around the emitting region in the source frame; directions
    // from a box to a convex set are extreme at corners and vertices, and atan(x/z)
    // is monotone, so the extremes of x/z and y/z decide the window.
    double half[3];
    half[0] = 0.5 * (std::abs(Sides[0].x) + std::abs(Sides[1].x) + std::abs(Sides[2].x));
    half[1] = 0.5 * (std::abs(Sides[0].y) + std::abs(Sides[1].y) + std::abs(Sides[2].y));
    half[2] = 0.5 * (std::abs(Sides[0].z) + std::abs(Sides[1].z) + std::abs(Sides[2].z));
    geometry::TCoord<double> corners[8];
    int cornerCount = 0;
    for (int i = 0; i < 8; ++i) {
        const geometry::TCoord<double> c(i & 1 ? half[0] : -half[0], i & 2 ? half[1] : -half[1],
                                         i & 4 ? half[2] : -half[2]);
        bool known = false;
        for (int j = 0; j < cornerCount; ++j)
            known = known || corners[j] == c;
        if (!known)
            corners[cornerCount++] = c;
    }
    const double inf = std::numeric_limits<double>::infinity();
    double minX = inf, maxX = -inf, minY = inf, maxY = -inf;
    bool inFront = true;
    auto visit = [&](const geometry::TCoord<double>& world) {
        const geometry::TCoord<double> local = ToSource.Apply(world);
        for (int j = 0; j < cornerCount && inFront; ++j) {
            const geometry::TCoord<double> l = local - corners[j];
            if (!(l.z > 0)) {
                inFront = false;
                break;
            }
            minX = std::min(minX, l.x / l.z);
            maxX = std::max(maxX, l.x / l.z);
            minY = std::min(minY, l.y / l.z);
            maxY = std::max(maxY, l.y / l.z);
        }
    };
    const std::size_t vertices = scene.VertexCount();
    for (std::size_t i = 0; i < vertices && inFront; ++i)
        visit(scene.GetVertex(i));
    for (const geometry::TBoundingBox<double>& box : scene.GetObjectBoxes())
        for (int i = 0; i < 8 && inFront; ++i)
            visit(geometry::TCoord<double>(i & 1 ? box.Max.x : box.Min.x, i & 2 ? box.Max.y : box.Min.y,
                                           i & 4 ? box.Max.z : box.Min.z));
    const std::string label = Name.empty() ? std::string("a source") : "source " + Name;
    if (!inFront || minX > maxX) {
        scene.GetMessageSink()("Note: AutoWindow keeps the window of " + label +
                                   ": the geometry does not lie wholly in front of it\n",
                               false);
        return;
    }
    const double fitted[4] = {std::atan(minX), std::atan(maxX), std::atan(maxY), std::atan(minY)};
    for (int i = 0; i < 4; ++i) {
        const bool lower = i == Left || i == Bottom;
        WindowAngles[i] = !Window ? fitted[i]
                          : lower ? std::max(WindowAngles[i], fitted[i])
                                  : std::min(WindowAngles[i], fitted[i]);
    }
    Window = true;
    UpdateWindowTangents();
    if (WindowAngles[Left] > WindowAngles[Right] || WindowAngles[Bottom] > WindowAngles[Top])
        throw std::runtime_error("TBasicSource: Determined source window leaves no opening");
}

void TBasicSource::PrintSummary(std::ostream& os) const {
    if (!Name.empty())
        os << "   Name: " << Name << "\n";
    os << "   Type: " << GetTypeName() << "\n";
    os << "   Particle Type: " << ParticleTypeName(Particle.Type) << "\n";
    const std::pair<double, double> range = GetEnergyRange();
    os << "   Energy: " << range.first;
    if (range.second != range.first)
        os << "-" << range.second;
    os << " keV\n";
    os << "   Origin: " << WorldOrigin() << " [cm]\n";
    if (!PointSource) {
        os << "   Sides:";
        for (const geometry::TCoord<double>& side : Sides)
            if (side != geometry::TCoord<double>())
                os << " " << ToWorld.ApplyToVector(side);
        os << " [cm]\n";
    }
    const geometry::TCoord<double> axis = WorldAxis();
    os << "   Direction (Latitude, Longitude): ( " << std::acos(std::max(-1.0, std::min(1.0, axis.z))) << ", "
       << std::atan2(axis.y, axis.x) << " ) [rad]\n";
    os << "   Direction (X, Y, Z): " << axis << "\n";
    os << "   Half Cone Angle: " << HalfConeAngle << " [rad], " << 2 * kPi * (1 - std::cos(HalfConeAngle))
       << " [sr]\n";
    if (Window) {
        os << "   Window: h ";
        PrintSignedPair(os, WindowAngles[Left], WindowAngles[Right]);
        os << "\n           v ";
        PrintSignedPair(os, WindowAngles[Bottom], WindowAngles[Top]);
        os << "\n";
    }
}
