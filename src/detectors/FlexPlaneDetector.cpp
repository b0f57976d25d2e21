#include "detectors/FlexPlaneDetector.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>

#include "geometry/TextParsing.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"

namespace {

using geometry::text::EqualsNoCase;

std::string Trimmed(std::string_view text) {
    return std::string(geometry::text::Trim(text));
}

// "Basic" / "TBasicDetectorCell" ..., with or without "Shared" beside it.
void ParseKind(const std::string& field, FlexCellDefinition& d) {
    std::istringstream words(field);
    std::string word;
    bool kind = false;
    while (words >> word) {
        if (EqualsNoCase(word, "Shared")) {
            d.Shared = true;
            continue;
        }
        if (EqualsNoCase(word, "Basic") || EqualsNoCase(word, "TBasicDetectorCell"))
            d.Kind = FlexCellDefinition::Basic;
        else if (EqualsNoCase(word, "Spectrometer") || EqualsNoCase(word, "TSpectrometerCell"))
            d.Kind = FlexCellDefinition::Spectrum;
        else if (EqualsNoCase(word, "SpectrometerUncertainty") ||
                 EqualsNoCase(word, "TSpectrometerUncertaintyCell"))
            d.Kind = FlexCellDefinition::SpectrumUncertainty;
        else
            throw std::runtime_error("Unknown cell type: " + word);
        if (kind)
            throw std::runtime_error("Malformed cell definition.");
        kind = true;
    }
    if (!kind)
        throw std::runtime_error("Malformed cell definition.");
}

double Number(const std::string& field) {
    char* end = nullptr;
    const double value = std::strtod(field.c_str(), &end);
    if (field.empty() || end != field.c_str() + field.size())
        throw std::runtime_error("Error parsing cell definition: " + field);
    return value;
}

// Zero-padded scatter orders: as many digits as the largest, at least two.
std::string Order(std::uint32_t k, std::uint32_t largest) {
    const std::size_t width = std::max<std::size_t>(2, std::to_string(largest).size());
    const std::string digits = std::to_string(k);
    return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

} // namespace

std::string FlexCellDefinition::ToString() const {
    std::ostringstream os;
    os << "("
       << (Kind == Basic      ? "Basic"
           : Kind == Spectrum ? "Spectrometer"
                              : "SpectrometerUncertainty")
       << (Shared ? " Shared" : "");
    if (IsSpectrum())
        os << ", " << Binning.MinEnergy << ", " << Binning.MaxEnergy << ", " << Binning.Bins;
    os << ")";
    return os.str();
}

std::vector<FlexCellDefinition> ParseCellDefinitions(const std::string& text, const EnergyBinning& defaults) {
    std::vector<FlexCellDefinition> cells;
    std::size_t at = 0;
    while (true) {
        at = text.find_first_not_of(" \t\r\n,", at);
        if (at == std::string::npos)
            break;
        if (text[at] != '(')
            throw std::runtime_error("Opening brace missing.");
        const std::size_t close = text.find(')', at);
        if (close == std::string::npos)
            throw std::runtime_error("Closing brace missing.");
        std::vector<std::string> fields;
        std::stringstream inside(text.substr(at + 1, close - at - 1));
        for (std::string field; std::getline(inside, field, ',');)
            fields.push_back(Trimmed(field));
        at = close + 1;
        if (fields.empty())
            throw std::runtime_error("Malformed cell definition.");
        FlexCellDefinition d;
        ParseKind(fields[0], d);
        if (fields.size() > (d.IsSpectrum() ? 4u : 1u))
            throw std::runtime_error("Too many fields in cell definition!");
        if (d.IsSpectrum()) {
            d.Binning = defaults;
            if (fields.size() > 1)
                d.Binning.MinEnergy = Number(fields[1]);
            if (fields.size() > 2)
                d.Binning.MaxEnergy = Number(fields[2]);
            if (fields.size() > 3) {
                const double bins = Number(fields[3]);
                if (!(bins >= 1) || bins != std::floor(bins))
                    throw std::runtime_error("EnergyBins must be at least 1");
                d.Binning.Bins = std::uint64_t(bins);
            }
            d.Binning.Complete();
        }
        cells.push_back(d);
    }
    if (cells.empty())
        throw std::runtime_error("Malformed cell definition.");
    return cells;
}

SpectrumFileType ParseSpectrumFileType(const std::string& word) {
    const std::string w = Trimmed(word);
    if (EqualsNoCase(w, "tarvo"))
        return SpectrumFileType::Tarvo;
    if (EqualsNoCase(w, "multiplexrs"))
        return SpectrumFileType::MultipleXRS;
    if (EqualsNoCase(w, "singlexrs"))
        return SpectrumFileType::SingleXRS;
    throw std::runtime_error("Unknown spectrum file type!");
}

const char* SpectrumFileTypeName(SpectrumFileType type) {
    return type == SpectrumFileType::Tarvo         ? "Tarvo"
           : type == SpectrumFileType::MultipleXRS ? "MultipleXRS"
                                                   : "SingleXRS";
}

TFlexPlaneDetector::TFlexPlaneDetector(const TFlexPlaneDetector& other)
    : TPlaneDetector(other), FileType(other.FileType), Coincidence(other.Coincidence), Cells(other.Cells),
      CellsText(other.CellsText), SharedCells(other.Shared ? 0 : other.SharedCells.size(), 0.0),
      SharedSize(other.SharedSize), BasicIndex(other.BasicIndex) {}

std::unique_ptr<TFlexPlaneDetector> TFlexPlaneDetector::Create(const inifiles::TIniFileSection& section,
                                                               IScene& scene) {
    std::unique_ptr<TFlexPlaneDetector> detector(new TFlexPlaneDetector());
    try {
        detector->ReadPlaneKeys(section, scene);
        std::string type = "Tarvo";
        inifiles::ReadOptional(section, "SpectrumType", type);
        detector->FileType = ParseSpectrumFileType(type);
        inifiles::ReadOptional(section, "Coincidence", detector->Coincidence);
        EnergyBinning defaults;
        inifiles::ReadOptional(section, "MinEnergy", defaults.MinEnergy);
        inifiles::ReadOptional(section, "MaxEnergy", defaults.MaxEnergy);
        SizeType bins = 0;
        if (inifiles::ReadOptional(section, "EnergyBins", bins) && bins == 0)
            throw std::runtime_error("EnergyBins must be at least 1");
        defaults.Bins = bins;
        std::string cells;
        inifiles::GetValue(section, "Cells", cells);
        try {
            detector->Cells = ParseCellDefinitions(cells, defaults);
        } catch (const std::exception& e) {
            throw std::runtime_error(std::string("Error creating detector cells: ") + e.what());
        }
        detector->Configure(cells);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("TFlexPlaneDetector: ") + e.what());
    }
    detector->CheckStopConditions();
    return detector;
}

void TFlexPlaneDetector::Configure(const std::string& cells) {
    CellsText = Trimmed(cells);
    std::size_t pixelSize = 0;
    const FlexCellDefinition* firstSpectrum = nullptr;
    for (std::size_t i = 0; i < Cells.size(); ++i) {
        FlexCellDefinition& d = Cells[i];
        d.Size = d.Kind == FlexCellDefinition::Basic
                     ? 3
                     : std::size_t(d.Binning.Bins) * (d.HasUncertainty() ? 2 : 1);
        std::size_t& end = d.Shared ? SharedSize : pixelSize;
        d.Offset = end;
        end += d.Size;
        if (d.Kind == FlexCellDefinition::Basic && !d.Shared && BasicIndex < 0)
            BasicIndex = int(i);
        if (!d.IsSpectrum() || d.Shared || FileType != SpectrumFileType::Tarvo)
            continue;
        if (firstSpectrum != nullptr &&
            (!(firstSpectrum->Binning == d.Binning) || firstSpectrum->Kind != d.Kind))
            throw std::runtime_error("Cells must have identical configuration for Tarvo file format");
        firstSpectrum = &d;
    }
    const std::size_t planes = TotalOnly ? 1 : std::size_t(2) + OutputNumberOfInteractions;
    // A cell of one unused field when all cells are shared.
    AllocateCells(planes, std::max<std::size_t>(1, pixelSize));
    SharedCells.assign(planes * SharedSize, 0.0);
}

std::unique_ptr<TBasicGeometricalObject> TFlexPlaneDetector::Clone() const {
    return std::unique_ptr<TBasicGeometricalObject>(new TFlexPlaneDetector(*this));
}

const double* TFlexPlaneDetector::SharedCell(std::size_t plane, const FlexCellDefinition& d) const {
    const auto& master = static_cast<const TFlexPlaneDetector&>(MasterDetector());
    return master.SharedCells.data() + plane * SharedSize + d.Offset;
}

void TFlexPlaneDetector::AddToCells(double* cell, double* shared, const PendingRegistration& r,
                                    double weight) {
    // Fields of the pixel's cell are listed for a copy's hand-over; shared cells go whole.
    const auto field = [this](const FlexCellDefinition& d, double* c, std::size_t i) {
        return d.Shared ? c + i : FieldForUpdate(c + i);
    };
    for (const FlexCellDefinition& d : Cells) {
        double* c = (d.Shared ? shared : cell) + d.Offset;
        if (d.Kind == FlexCellDefinition::Basic) {
            *field(d, c, 0) += weight;
            Squares.Add(r.History, field(d, c, 1), weight);
            *field(d, c, 2) += r.Energy * weight;
            continue;
        }
        if (Coincidence) {
            AddPulse(r.History, c, d, r.Energy, weight);
            continue;
        }
        const std::int64_t bin = d.Binning.BinOf(r.Energy);
        if (bin < 0)
            continue;
        if (!d.HasUncertainty()) {
            *field(d, c, std::size_t(bin)) += weight;
            continue;
        }
        *field(d, c, 2 * std::size_t(bin)) += weight;
        Squares.Add(r.History, field(d, c, 2 * std::size_t(bin) + 1), weight);
    }
}

void TFlexPlaneDetector::AddPulse(std::uint64_t history, double* spectrum, const FlexCellDefinition& d,
                                  double energy, double weight) {
    if (history != PulseHistory || history == HistorySquares::NoHistory)
        CloseHistory();
    PulseHistory = history;
    for (Pulse& p : Pulses) {
        if (p.Spectrum != spectrum)
            continue;
        if (p.Weight > 0)
            p.Energy += weight * energy / p.Weight;
        return;
    }
    Pulses.push_back({spectrum, &d, d.Shared, energy, weight});
}

void TFlexPlaneDetector::CloseHistory() {
    MatrixDetector::CloseHistory();
    for (const Pulse& p : Pulses) {
        const std::int64_t bin = p.Definition->Binning.BinOf(p.Energy);
        if (bin < 0 || !(p.Weight > 0))
            continue;
        const std::size_t stride = p.Definition->HasUncertainty() ? 2 : 1;
        double* count = p.Spectrum + stride * std::size_t(bin);
        // One count per history: its square is the weight's.
        *(p.Shared ? count : FieldForUpdate(count)) += p.Weight;
        if (stride == 2)
            *(p.Shared ? count + 1 : FieldForUpdate(count + 1)) += p.Weight * p.Weight;
    }
    Pulses.clear();
    PulseHistory = HistorySquares::NoHistory;
}

void TFlexPlaneDetector::AddToPixel(std::uint64_t pixel, const PendingRegistration& r, double weight) {
    ForEachClassPlane(r.InteractionCount, [&](std::size_t plane) {
        AddToCells(CellForUpdate(plane, pixel), SharedCells.data() + plane * SharedSize, r, weight);
    });
}

void TFlexPlaneDetector::RegisterPixel(std::uint64_t row, std::uint64_t column, const TParticle& particle,
                                       double weight) {
    if (row >= Rows || column >= Columns)
        throw std::runtime_error("TPlaneDetector: Incorrect array index (" + std::to_string(row) + ", " +
                                 std::to_string(column) + ")!");
    PendingRegistration r;
    r.Energy = particle.Energy;
    r.InteractionCount = particle.InteractionCount;
    AddToPixel(row * Columns + column, r, weight);
}

bool TFlexPlaneDetector::HandOverExtra(std::vector<double>& into) {
    if (SharedSize == 0)
        return false;
    into.resize(SharedCells.size());
    std::copy(SharedCells.begin(), SharedCells.end(), into.begin());
    std::fill(SharedCells.begin(), SharedCells.end(), 0.0);
    return true;
}

void TFlexPlaneDetector::CommitExtra(const std::vector<double>& part) {
    for (std::size_t i = 0; i < SharedCells.size() && i < part.size(); ++i)
        SharedCells[i] += part[i];
}

bool TFlexPlaneDetector::GetStopValueSource(const StopCondition& condition, StopValueSource& source) const {
    if (BasicIndex < 0 || !ClassPlanes(condition, source.Plane, source.PlusPlane))
        return false;
    const int offset = int(Cells[std::size_t(BasicIndex)].Offset);
    source.CountField = offset;
    source.SquareField = offset + 1;
    source.EnergyField = offset + 2;
    return true;
}

void TFlexPlaneDetector::WriteSpectra(const std::string& className, std::size_t plane, int plusPlane,
                                      const ImageWriterOptions& options) const {
    const int digits = SpectrumDigits(options);
    const double scale = options.CountScale;
    // The value of field i of a definition's cell, the classes added.
    const auto view = [&](const FlexCellDefinition& d,
                          const std::function<const double*(std::size_t)>& cellOf) {
        SpectrumView v;
        v.Binning = &d.Binning;
        v.Uncertainty = d.HasUncertainty();
        const std::size_t stride = d.HasUncertainty() ? 2 : 1;
        const auto field = [cellOf, plane, plusPlane](std::size_t i) {
            double sum = cellOf(plane)[i];
            if (plusPlane >= 0)
                sum += cellOf(std::size_t(plusPlane))[i];
            return sum;
        };
        v.Count = [field, stride](std::uint64_t bin) { return field(bin * stride); };
        v.Squares = [field](std::uint64_t bin) { return field(bin * 2 + 1); };
        return v;
    };
    std::vector<const FlexCellDefinition*> pixelSpectra, sharedSpectra;
    for (const FlexCellDefinition& d : Cells)
        if (d.IsSpectrum())
            (d.Shared ? sharedSpectra : pixelSpectra).push_back(&d);
    const std::string base = className + "_spectra";
    if (!sharedSpectra.empty()) {
        WriteSpectrumFile(SpectrumFileName(base + "_shared", options), options, [&](std::ostream& os) {
            for (const FlexCellDefinition* d : sharedSpectra)
                WriteSpectrumText(os, view(*d, [&](std::size_t p) { return SharedCell(p, *d); }), "", scale,
                                  digits);
        });
    }
    if (pixelSpectra.empty())
        return;
    // Spectra of pixels first .. last; each preceded by its index when the file holds several.
    const auto pixels = [&](std::ostream& os, std::uint64_t first, std::uint64_t last, bool numbered) {
        for (std::uint64_t pixel = first; pixel < last; ++pixel) {
            for (const FlexCellDefinition* d : pixelSpectra) {
                if (numbered)
                    os << "# " << pixel << "\n";
                WriteSpectrumText(os, view(*d, [&](std::size_t p) { return PixelCell(p, pixel, *d); }), "",
                                  scale, digits);
            }
        }
    };
    switch (FileType) {
    case SpectrumFileType::Tarvo:
        WriteSpectrumFile(SpectrumFileName(base, options), options, [&](std::ostream& os) {
            os << "# Tarvo spectra: " << Rows << " x " << Columns << " pixels\n";
            pixels(os, 0, Rows * Columns, true);
        });
        break;
    case SpectrumFileType::MultipleXRS:
        for (std::uint64_t row = 0; row < Rows; ++row)
            WriteSpectrumFile(
                SpectrumFileName(base + "_" + std::to_string(row), options), options,
                [&](std::ostream& os) { pixels(os, row * Columns, (row + 1) * Columns, true); });
        break;
    case SpectrumFileType::SingleXRS:
        for (std::uint64_t pixel = 0; pixel < Rows * Columns; ++pixel)
            WriteSpectrumFile(
                SpectrumFileName(base + "_" + std::to_string(pixel), options), options,
                [&](std::ostream& os) { pixels(os, pixel, pixel + 1, pixelSpectra.size() > 1); });
        break;
    }
}

void TFlexPlaneDetector::WriteResults(const std::string& baseName, const ImageWriterOptions& options) const {
    WriteRegistrator(baseName, options);
    struct Class {
        std::string Name;
        std::size_t Plane;
        int PlusPlane;
    };
    std::vector<Class> classes;
    if (TotalOnly) {
        classes.push_back({"total", 0, -1});
    } else {
        if (!ScatterOnly) {
            classes.push_back({"primary", 0, -1});
            classes.push_back({"total", 0, 1});
        }
        classes.push_back({"scattered", 1, -1});
        for (std::uint32_t k = 1; k <= OutputNumberOfInteractions; ++k)
            classes.push_back({Order(k, OutputNumberOfInteractions), 1 + k, -1});
    }
    for (const Class& c : classes) {
        const std::string className = baseName + "_" + c.Name;
        if (BasicIndex >= 0)
            WriteCellImages(*this, className, c.Plane, c.PlusPlane, Cells[std::size_t(BasicIndex)].Offset,
                            options);
        WriteSpectra(className, c.Plane, c.PlusPlane, options);
    }
}

void TFlexPlaneDetector::PrintSummary(std::ostream& os) const {
    TPlaneDetector::PrintSummary(os);
    os << "   Cells:";
    std::uint64_t spectra = 0;
    for (const FlexCellDefinition& d : Cells) {
        os << " " << d.ToString();
        if (d.IsSpectrum())
            spectra += d.Shared ? 1 : Rows * Columns;
    }
    os << "\n";
    if (Coincidence)
        os << "   Coincidence: 1\n";
    os << "   Spectrum File Type: " << SpectrumFileTypeName(FileType) << "\n";
    os << "   Spectrum Count: " << spectra << "\n";
}
