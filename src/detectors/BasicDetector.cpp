#include "detectors/BasicDetector.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include <omp.h>

#include "datafiles/HostInfo.h"

#include "detectors/DetectorModel.h"
#include "geometry/SceneObjects.h"
#include "inifiles/IniValues.h"

std::uint64_t DoublesPerCopy(bool perThread) {
    const std::uint64_t memory = PhysicalMemory();
    if (memory == 0)
        return std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t copies = perThread ? std::uint64_t(omp_get_max_threads()) + 1 : 1;
    return memory / copies / sizeof(double);
}

void DetectorTotals::Merge(const DetectorTotals& other) {
    for (std::size_t i = 0; i < Values.size() && i < other.Values.size(); ++i)
        Values[i] += other.Values[i];
}

void DetectorTotals::Clear() {
    std::fill(Values.begin(), Values.end(), 0.0);
}

geometry::TCoord<double> TBasicDetector::GetPixelPosition(std::uint64_t, TRandomNumbersGenerator&) const {
    throw std::runtime_error("GetPixelPosition not implemented for this detector type");
}

void TBasicDetector::ReadDetectorKeys(const inifiles::TIniFileSection& section) {
    try {
        inifiles::ReadOptional(section, "OutputNumberOfInteractions", OutputNumberOfInteractions);
        inifiles::ReadOptional(section, "WriteSquareCount", WriteSquareCount);
        inifiles::ReadOptional(section, "Transparent", Transparent);
        inifiles::ReadOptional(section, "ScatterOnly", ScatterOnly);
        inifiles::ReadOptional(section, "TotalOnly", TotalOnly);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("TBasicDetector: ") + e.what());
    }
    if (TotalOnly) {
        ScatterOnly = false;
        OutputNumberOfInteractions = 0;
    }
}

void TBasicDetector::PrintDetectorSummary(std::ostream& os) const {
    os << "   DetectorModel: " << Model->Description() << "\n";
    os << "   Transparent: " << int(Transparent) << "\n";
    os << "   Total Radiation Only: " << int(TotalOnly) << "\n";
    os << "   Scatter Radiation Only: " << int(ScatterOnly) << "\n";
    os << "   ScatterCount: " << OutputNumberOfInteractions << "\n";
}

void PrintCountLine(std::ostream& os, const std::string& label, double count, double square,
                    double particles) {
    const double u = count > 0 ? std::sqrt(square / (count * count)) : 0;
    os << label << count;
    if (u > 0)
        os << " +- " << u * count;
    os << " (sqrt(N): " << std::sqrt(count) << ")";
    if (particles > 0) {
        os << " [rel.: " << count / particles;
        if (u > 0)
            os << " +- " << u * count / particles;
        os << "]";
    }
    os << "\n";
}

void PrintEnergyLine(std::ostream& os, const std::string& label, double energy, double count,
                     double particles) {
    os << label << energy << " keV";
    if (count > 0)
        os << " (avg.: " << energy / count << " keV)";
    if (particles > 0)
        os << " [rel.: " << energy / particles << " keV]";
    os << "\n";
}

void TBasicDetector::PrintResults(std::ostream& os, double particles) const {
    if (!ScatterOnly) {
        const double c = PrimaryCount(), e = PrimaryEnergy();
        if (!(c == 0 && e > 0))
            PrintCountLine(os,
                           TotalOnly ? "   Total Number Of Particles: "
                                     : "   Number Of Particles That Didn't Interact: ",
                           c, PrimarySquareCount(), particles);
        if (e > 0)
            PrintEnergyLine(os,
                            TotalOnly ? "   Total Energy Of Particles: "
                                      : "   Energy Of Particles That Didn't Interact: ",
                            e, c, particles);
    }
    if (TotalOnly)
        return;
    for (std::uint32_t k = 0; k <= OutputNumberOfInteractions; ++k) {
        const double c = ScatteredCount(k), e = ScatteredEnergy(k);
        const std::string times =
            k == 1 ? "   Scattered Once: " : "   Scattered " + std::to_string(k) + " Times: ";
        if (c > 0)
            PrintCountLine(os, k == 0 ? "   Number Of Scattered/Secondary Particles: " : times, c,
                           ScatteredSquareCount(k), particles);
        if (e > 0)
            PrintEnergyLine(os, k == 0 ? "   Energy Of Scattered/Secondary Particles: " : times, e, c,
                            particles);
    }
}

TBasicDetector& AsDetector(TBasicGeometricalObject& object) {
    return dynamic_cast<TBasicDetector&>(object);
}
