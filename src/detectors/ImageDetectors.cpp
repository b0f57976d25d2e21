#include "detectors/ImageDetectors.h"

#include <cmath>
#include <stdexcept>

#include "detectors/FlexPlaneDetector.h"
#include "detectors/Spectrometer.h"
#include "geometry/ObjectFactory.h"
#include "inifiles/IniValues.h"

namespace {

ImageFile ImageOf(const TPlaneDetector& plane, const std::string& className, double scale, PixelType pixels) {
    ImageFile file;
    file.ClassName = className;
    file.Scale = scale;
    file.Pixels = pixels;
    file.XResolution = double(plane.Columns) / Norm(plane.PointB() - plane.PointA());
    file.YResolution = double(plane.Rows) / Norm(plane.PointC() - plane.PointA());
    return file;
}

// Kept out of line, so that registering a pixel needs no room for the message.
[[noreturn]] __attribute__((noinline, cold)) void ThrowPixelIndex(std::uint64_t row, std::uint64_t column) {
    throw std::runtime_error("TPlaneDetector: Incorrect array index (" + std::to_string(row) + ", " +
                             std::to_string(column) + ")!");
}

inline void CheckPixel(const MatrixDetector& detector, std::uint64_t row, std::uint64_t column) {
    if (row >= detector.Rows || column >= detector.Columns)
        ThrowPixelIndex(row, column);
}

// A registration outside the tracers' batches: its own history.
PendingRegistration Direct(const TParticle& particle) {
    PendingRegistration r;
    r.Energy = particle.Energy;
    r.InteractionCount = particle.InteractionCount;
    return r;
}

} // namespace

Extractor::Extractor(const MatrixDetector& detector, std::size_t plane, int plusPlane, int field,
                     std::size_t fieldCount, std::size_t offset)
    : Detector(detector), Plane(plane), PlusPlane(plusPlane), FieldCode(field), FieldCount(fieldCount),
      Offset(offset) {
    if (field < Count || field > Error || (field != Count && fieldCount < 3))
        throw std::runtime_error("Don't know how to get this data type");
}

double Extractor::Value(std::uint64_t row, std::uint64_t column) const {
    if (row >= Detector.Rows || column >= Detector.Columns)
        throw std::runtime_error("Index out of bounds");
    const std::uint64_t pixel = row * Detector.Columns + column;
    double cell[3] = {0, 0, 0};
    for (const int plane : {int(Plane), PlusPlane}) {
        if (plane < 0)
            continue;
        const double* c = Detector.Cell(std::size_t(plane), pixel) + Offset;
        for (std::size_t f = 0; f < FieldCount; ++f)
            cell[f] += c[f];
    }
    if (FieldCode == Error)
        return cell[Count] > 0 ? std::sqrt(cell[SquareCount]) / cell[Count] : 0;
    return cell[FieldCode];
}

std::unique_ptr<TImagePlaneDetector> TImagePlaneDetector::Create(const inifiles::TIniFileSection& section,
                                                                 IScene& scene) {
    std::unique_ptr<TImagePlaneDetector> detector(new TImagePlaneDetector());
    try {
        detector->ReadPlaneKeys(section, scene);
        inifiles::ReadOptional(section, "Dose", detector->EnergyImage);
        inifiles::ReadOptional(section, "Energy", detector->EnergyImage);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("TImagePlaneDetector: ") + e.what());
    }
    detector->AllocateCells(1, 1);
    detector->CheckStopConditions();
    return detector;
}

std::unique_ptr<TBasicGeometricalObject> TImagePlaneDetector::Clone() const {
    return std::unique_ptr<TBasicGeometricalObject>(new TImagePlaneDetector(*this));
}

void TImagePlaneDetector::RegisterPixel(std::uint64_t row, std::uint64_t column, const TParticle& particle,
                                        double weight) {
    CheckPixel(*this, row, column);
    Writer().Add(row * Columns + column, Direct(particle), weight);
}

void TImagePlaneDetector::WriteResults(const std::string& baseName, const ImageWriterOptions& options) const {
    WriteRegistrator(baseName, options);
    const std::string suffix = EnergyImage ? "_energy" : "_count";
    const double scale = EnergyImage ? options.EnergyScale : options.CountScale;
    std::string name;
    if (!ScatterOnly)
        name = baseName + (TotalOnly ? "_total" : "_primary") + suffix;
    else
        name = baseName + "_" +
               (OutputNumberOfInteractions > 0 ? std::to_string(OutputNumberOfInteractions) : "scattered") +
               suffix;
    WriteImage(Extractor(*this, 0, -1, Extractor::Count, 1), ImageOf(*this, name, scale, options.Pixels),
               options);
}

// One class and one field: the image's.
bool TImagePlaneDetector::GetStopValueSource(const StopCondition& condition, StopValueSource& source) const {
    const StopCondition::ClassType kept = TotalOnly     ? StopCondition::Total
                                          : ScatterOnly ? StopCondition::Scatter
                                                        : StopCondition::Primary;
    if (condition.Class != kept ||
        (kept == StopCondition::Scatter && condition.ScatterOrder != OutputNumberOfInteractions))
        return false;
    source.Plane = 0;
    (EnergyImage ? source.EnergyField : source.CountField) = 0;
    return true;
}

void TImagePlaneDetector::PrintSummary(std::ostream& os) const {
    TPlaneDetector::PrintSummary(os);
    os << "   Data Type: 64bit floating point, " << (EnergyImage ? "energy" : "count") << "\n";
}

std::unique_ptr<TSimplePlaneDetector> TSimplePlaneDetector::Create(const inifiles::TIniFileSection& section,
                                                                   IScene& scene) {
    std::unique_ptr<TSimplePlaneDetector> detector(new TSimplePlaneDetector());
    try {
        detector->ReadPlaneKeys(section, scene);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("TSimplePlaneDetector: ") + e.what());
    }
    detector->AllocateCells(detector->TotalOnly ? 1 : std::size_t(2) + detector->OutputNumberOfInteractions, 3);
    detector->CheckStopConditions();
    return detector;
}

std::unique_ptr<TBasicGeometricalObject> TSimplePlaneDetector::Clone() const {
    return std::unique_ptr<TBasicGeometricalObject>(new TSimplePlaneDetector(*this));
}

void TSimplePlaneDetector::RegisterPixel(std::uint64_t row, std::uint64_t column, const TParticle& particle,
                                         double weight) {
    CheckPixel(*this, row, column);
    Writer().Add(row * Columns + column, Direct(particle), weight);
}

void WriteCellImages(const TPlaneDetector& detector, const std::string& className, std::size_t plane,
                     int plusPlane, std::size_t offset, const ImageWriterOptions& options) {
    const auto write = [&](int field, const char* suffix, double scale, PixelType pixels) {
        WriteImage(Extractor(detector, plane, plusPlane, field, 3, offset),
                   ImageOf(detector, className + suffix, scale, pixels), options);
    };
    write(Extractor::Count, "_count", options.CountScale, options.Pixels);
    write(Extractor::Error, "_error", options.ErrorScale, options.Pixels);
    write(Extractor::Energy, "_energy", options.EnergyScale, options.Pixels);
    if (!detector.WriteSquareCount)
        return;
    const bool asFloat = options.Pixels == PixelType::Float || options.Pixels == PixelType::Default;
    write(Extractor::SquareCount, "_squarecount", 1, asFloat ? PixelType::Float : PixelType::Double);
}

void TSimplePlaneDetector::WriteResults(const std::string& baseName,
                                        const ImageWriterOptions& options) const {
    WriteRegistrator(baseName, options);
    if (!ScatterOnly) {
        WriteCellImages(*this, baseName + (TotalOnly ? "_total" : "_primary"), 0, -1, 0, options);
        if (!TotalOnly)
            WriteCellImages(*this, baseName + "_total", 0, 1, 0, options);
    }
    if (TotalOnly)
        return;
    WriteCellImages(*this, baseName + "_scattered", 1, -1, 0, options);
    for (std::uint32_t k = 1; k <= OutputNumberOfInteractions; ++k)
        WriteCellImages(*this, baseName + "_scattered" + std::to_string(k), 1 + k, -1, 0, options);
}

bool TSimplePlaneDetector::GetStopValueSource(const StopCondition& condition, StopValueSource& source) const {
    if (!ClassPlanes(condition, source.Plane, source.PlusPlane))
        return false;
    source.CountField = 0;
    source.SquareField = 1;
    source.EnergyField = 2;
    return true;
}

void TSimplePlaneDetector::PrintSummary(std::ostream& os) const {
    TPlaneDetector::PrintSummary(os);
    os << "   Data Type: 64bit floating point, count, energy, rel. error\n";
}

void RegisterDetectorTypes() {
    RegisterSpectrometerTypes();
    geometry::RegisterObjectType(
        "PlaneDetector", [](const inifiles::TIniFileSection& section, IScene& scene) {
            if (section.HasVariable("Cells"))
                return std::unique_ptr<TBasicGeometricalObject>(TFlexPlaneDetector::Create(section, scene));
            if (section.HasVariable("Dose") || section.HasVariable("Energy"))
                return std::unique_ptr<TBasicGeometricalObject>(TImagePlaneDetector::Create(section, scene));
            return std::unique_ptr<TBasicGeometricalObject>(TSimplePlaneDetector::Create(section, scene));
        });
}
