#include "materials/TableInfo.h"

#include "inifiles/IniValues.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>

INIFILES_TYPE_NAME(datastructures::TableFormat, "TableFormat");

namespace datastructures {

namespace {

struct FormatEntry {
    std::uint32_t code;
    const char* keyword;
    const char* printed;
};

const FormatEntry kFormats[] = {
    {Coherent, "coherent", "Coherent"}, {Incoherent, "incoherent", "Incoherent"},
    {Brems, "brems", "Brems"},          {Fluo, "fluo", "Fluo"},
    {KnockOn, "knockon", "KnockOn"},    {TCR, "tcr", "TCR"},
    {PCR, "pcr", "PCR"},                {ACRP, "acrp", "ACRP"},
    {SimpleDet, "simpledet", "SimpleDet"}, {SimpleDetSpline, "simpledetspline", "SimpleDetSpline"},
    {FullDet, "fulldet", "FullDet"},
};

bool EqualNoCase(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && !b[i];
}

std::vector<std::string> SplitAt(const std::string& text, char delimiter)
{
    std::vector<std::string> pieces;
    std::string::size_type begin = 0;
    for (;;) {
        const auto end = text.find(delimiter, begin);
        pieces.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos)
            return pieces;
        begin = end + 1;
    }
}

[[noreturn]] void UnknownFormat() { throw std::runtime_error("Unknown file format"); }

template <class T>
std::vector<T> ParseList(const std::string& text)
{
    std::vector<T> values;
    for (const auto& piece : SplitAt(text, ',')) {
        std::istringstream in(piece);
        T value{};
        if (!(in >> value))
            UnknownFormat();
        values.push_back(value);
    }
    return values;
}

template <class T>
void PadOrCut(std::vector<T>& list, std::size_t size)
{
    list.resize(size, T(0));
}

} // namespace

std::string TableFormatName(std::uint32_t code)
{
    for (const auto& f : kFormats) {
        if (f.code == code && f.printed)
            return f.printed;
    }
    return "Unknown";
}

bool TableFormatFromName(const std::string& name, std::uint32_t& code)
{
    for (const auto& f : kFormats) {
        if (f.printed && EqualNoCase(name, f.printed)) {
            code = f.code;
            return true;
        }
    }
    return false;
}

std::istream& operator>>(std::istream& in, TableFormat& format)
{
    std::string word;
    if (!(in >> word))
        return in;
    if (std::isdigit(static_cast<unsigned char>(word[0]))) {
        std::istringstream number(word);
        std::uint32_t code = 0;
        if (number >> code) {
            format = static_cast<TableFormat>(code);
            return in;
        }
    }
    for (const auto& f : kFormats) {
        if (word == f.keyword) {
            format = static_cast<TableFormat>(f.code);
            return in;
        }
    }
    in.setstate(std::ios::failbit);
    return in;
}

void TableInfo::ReadConfiguration(const inifiles::TIniFileSection& section, const std::string& context)
{
    // A bad value names its key when the caller gives a context to name it in.
    auto read = [&](const char* key, auto& value) {
        try {
            return inifiles::ReadOptional(section, key, value);
        } catch (const std::exception& e) {
            if (context.empty())
                throw;
            throw std::runtime_error(std::string(e.what()) + " for " + key + " in " + context);
        }
    };
    if (read("CoefficientsFileName", FileName) && !FileName.empty())
        FileName = inifiles::MakePath(section, FileName);
    read("Save", Save);
    TableFormat format = static_cast<TableFormat>(DataFormat);
    if (read("DataFormat", format))
        DataFormat = format;
    read("Density", Density);
    read("IntegrationPrecision", IntegrationPrecision);
    read("EnergyStart", EnergyStart);
    read("EnergyStride", EnergyStride);
    read("EnergyLevelsNumber", EnergyLevelsNumber);
    read("GammaValuesNumber", GammaValuesNumber);
}

void TableInfo::ThrowEnergyIndexError()
{
    throw std::runtime_error("TableInfo::interpolate(). Energy Index Error!\n");
}

void TableInfo::ThrowInvalidIndex() { throw std::runtime_error("Invalid array index!"); }

void TableInfo::SetupEnergyGrid()
{
    segments_.clear();
    lasts_.clear();
    totalLevels_ = 0;
    totalValues_ = 0;
    for (std::size_t i = 1; i < EnergyStart.size(); ++i) {
        if (!(EnergyStart[i] > EnergyStart[i - 1]))
            throw std::runtime_error("Starting energies not ordered");
    }
    // Without a maximum (no source has set one) the table keeps all it has.
    const double maxEnergy = MaxEnergy > 0.0 ? MaxEnergy : std::numeric_limits<double>::infinity();
    const auto kept = static_cast<std::size_t>(
        std::find_if(EnergyStart.begin(), EnergyStart.end(), [&](double e) { return !(e < maxEnergy); }) -
        EnergyStart.begin());
    if (kept == 0)
        throw std::runtime_error("Invalid table configuration");
    EnergyStart.resize(kept);
    PadOrCut(EnergyStride, kept);
    PadOrCut(EnergyLevelsNumber, kept);
    PadOrCut(GammaValuesNumber, kept);

    double lastStride = 0.0;
    for (std::size_t i = 0; i < kept; ++i) {
        if (EnergyStride[i] > 0.0)
            lastStride = EnergyStride[i];
        else if (lastStride > 0.0)
            EnergyStride[i] = lastStride;
        else
            throw std::runtime_error("Invalid table configuration");

        const double start = EnergyStart[i];
        const double stride = EnergyStride[i];
        std::uint64_t& levels = EnergyLevelsNumber[i];
        if (levels == 0 || start + static_cast<double>(levels - 1) * stride > maxEnergy) {
            const double end = i + 1 < kept ? EnergyStart[i + 1] : maxEnergy;
            if (!(start < end) || std::isinf(end))
                throw std::runtime_error("Invalid table configuration");
            // A ratio that is whole but for rounding must not gain a level.
            const double steps = std::ceil((end - start) / stride - 1e-9);
            if (!(steps < 1e15)) {
                // An absurd energy (a source's 1e300 keV) or stride; say which.
                std::ostringstream text;
                text << "Too many energy levels from " << start << " to " << end << " keV in steps of "
                     << stride << " keV";
                throw std::runtime_error(text.str());
            }
            levels = static_cast<std::uint64_t>(steps) + 1;
        }
        if (levels < 2)
            throw std::runtime_error("Incorrect EnergyLevelsNumber");

        EnergySegment s;
        s.Start = start;
        s.Stride = stride;
        s.InverseStride = 1.0 / stride;
        s.Levels = static_cast<std::size_t>(levels);
        s.Last = start + static_cast<double>(levels - 1) * stride;
        s.FirstLevel = totalLevels_;
        s.Gamma = static_cast<std::size_t>(GammaValuesNumber[i]);
        // Counts from a corrupt header must not wrap the sizes around.
        if (s.Gamma != 0 && s.Levels > (std::numeric_limits<std::size_t>::max() - totalValues_) / s.Gamma)
            throw std::runtime_error("Invalid table configuration");
        s.FirstValue = totalValues_;
        segments_.push_back(s);
        lasts_.push_back(s.Last);
        totalLevels_ += s.Levels;
        totalValues_ += s.Levels * s.Gamma;
    }
    if (totalLevels_ < 2)
        throw std::runtime_error("TMacroscopicCoefficients::LoadDataFromStream: EnergyLevelsNumber less than two!");
}

double TableInfo::LowestEnergy() const { return segments_.empty() ? 0.0 : segments_.front().Start; }

double TableInfo::HighestEnergy() const
{
    double highest = 0.0;
    for (const auto& s : segments_)
        highest = std::max(highest, s.Last);
    return highest;
}

bool IsTableHeader(const std::string& line) { return line.compare(0, 6, "#Tarvo") == 0; }

void ReadTableHeader(const std::string& line, TableInfo& info, std::string* name)
{
    std::string text = line;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    const auto fields = SplitAt(text, '\t');
    if (fields.size() < 5 || fields[0] != "#Tarvo")
        UnknownFormat();
    std::uint32_t format = 0;
    if (!TableFormatFromName(fields[3], format))
        UnknownFormat();
    info.DataFormat = format;
    if (name)
        *name = fields[2];
    info.GammaValuesNumber = ParseList<std::uint64_t>(fields[4]);
    if (fields.size() > 5)
        info.EnergyLevelsNumber = ParseList<std::uint64_t>(fields[5]);
    if (fields.size() > 6)
        info.EnergyStart = ParseList<double>(fields[6]);
    if (fields.size() > 7)
        info.EnergyStride = ParseList<double>(fields[7]);
}

void WriteTableHeader(std::ostream& out, const TableInfo& info, const std::string& name)
{
    const auto& segments = info.Segments();
    auto list = [&](auto field) {
        std::ostringstream text;
        text << std::setprecision(std::numeric_limits<double>::max_digits10);
        for (std::size_t i = 0; i < segments.size(); ++i)
            text << (i ? "," : "") << field(segments[i]);
        return text.str();
    };
    out << "#Tarvo\t" << (segments.size() > 1 ? 1 : 0) << '\t' << name << '\t' << TableFormatName(info.DataFormat)
        << '\t' << list([](const EnergySegment& s) { return s.Gamma; }) << '\t'
        << list([](const EnergySegment& s) { return s.Levels; }) << '\t'
        << list([](const EnergySegment& s) { return s.Start; }) << '\t'
        << list([](const EnergySegment& s) { return s.Stride; }) << '\n';
    for (const auto& s : segments) {
        out << "# energy steps of " << s.Stride << " keV, from " << s.Start << " keV to " << s.Last << " keV\n";
    }
}

} // namespace datastructures
