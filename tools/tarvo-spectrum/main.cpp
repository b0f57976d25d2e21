// tarvo-spectrum: writes the spectrum of a tungsten-anode X-ray tube, as a
// spectrum file for polychromatic sources, from a physical model (see
// TubeModel.h) with the filtration given, optionally fitting added aluminium
// to a first half-value layer.

#include "Absorber.h"
#include "BeamQuality.h"
#include "TubeModel.h"

#include "datafiles/XRTCStream.h"
#include "materials/DataDirectory.h"

#include <xraylib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr double kLowestVoltage = 20.0;   // kV
constexpr double kHighestVoltage = 150.0; // kV
// Entries this far below the strongest carry nothing and only lengthen the file.
constexpr double kNegligible = 1e-12;

const char* const kUsage =
    "Usage: tarvo-spectrum --kv KV [options] OUTPUT\n"
    "Writes the spectrum of a tungsten-anode X-ray tube to OUTPUT (compressed when it ends in .xrc).\n"
    "  --kv KV              tube voltage, 20 to 150 kV (constant potential)\n"
    "  --anode-angle DEG    angle between the anode face and the central ray (default 12)\n"
    "  --inherent MAT:MM    inherent filtration, e.g. Be:0.8 (may be repeated)\n"
    "  --filter MAT:MM      added filtration, e.g. Al:2.5, Cu:0.1, Air:1000 (may be repeated)\n"
    "  --hvl1 MM            add the aluminium that makes the first half-value layer MM mm Al\n"
    "  --bin KEV            width of the energy bins (default 0.5, from 0.05 to 5)\n"
    "  --title TEXT         a line for the file's header\n"
    "  --xcom DIR, --air FILE, --materials FILE\n"
    "                       XCOM tables, air's mu_en table, definitions (default: the data directory)\n"
    "MAT is an element symbol or a material of the definitions (Air, Copper, PMMA, ...).\n";

struct Layer {
    std::string material;
    std::string thicknessText; // as given, for the header
    double thickness = 0.0;    // mm
    double density = 0.0;      // g/cm^3, once the material is known
    std::string option;        // that gave the layer: --inherent, --filter or --hvl1 (fitted)
};

struct Options {
    spectrum::TubeSettings tube;
    std::vector<Layer> layers;
    double hvl1 = 0.0; // 0: no fit
    std::string title;
    std::string xcomDir = materials::DataPath("xcom");
    std::string airTable = materials::DataPath("mu-en/air.txt");
    std::string definitions = materials::DataPath("materials/materials.def");
    std::string output;
    std::string command;
};

// A finite number making up all of `text`; else an error naming the option.
double Number(const std::string& option, const std::string& text) {
    std::size_t used = 0;
    double value = 0.0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(value))
        throw std::runtime_error(option + " " + text + ": not a number");
    return value;
}

void Require(bool condition, const std::string& option, const std::string& value, const std::string& what) {
    if (!condition)
        throw std::runtime_error(option + " " + value + ": " + what);
}

Layer ParseLayer(const std::string& option, const std::string& text) {
    const auto colon = text.rfind(':');
    Require(colon != std::string::npos && colon > 0, option, text, "expected MATERIAL:MILLIMETRES");
    Layer layer;
    layer.material = text.substr(0, colon);
    layer.thicknessText = text.substr(colon + 1);
    layer.thickness = Number(option, layer.thicknessText);
    Require(layer.thickness > 0.0, option, text, "the thickness must be positive");
    layer.option = option;
    return layer;
}

// The command as a shell would take it back: arguments with other characters single-quoted.
std::string Quote(const std::string& arg) {
    const bool plain =
        !arg.empty() && arg.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                              "0123456789_.,:/=+-") == std::string::npos;
    if (plain)
        return arg;
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

Options ParseArguments(int argc, char** argv) {
    Options options;
    options.command = "tarvo-spectrum";
    bool voltageGiven = false;
    for (int i = 1; i < argc; ++i) {
        options.command += " " + Quote(argv[i]);
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            if (i + 1 >= argc)
                throw std::runtime_error(arg + ": a value is missing\n" + kUsage);
            const std::string value = argv[++i];
            options.command += " " + Quote(value);
            if (arg == "--kv") {
                options.tube.voltage = Number(arg, value);
                Require(options.tube.voltage >= kLowestVoltage && options.tube.voltage <= kHighestVoltage,
                        arg, value, "the tube voltage must lie between 20 and 150 kV");
                voltageGiven = true;
            } else if (arg == "--anode-angle") {
                options.tube.anodeAngle = Number(arg, value);
                Require(options.tube.anodeAngle > 0.0 && options.tube.anodeAngle < 90.0, arg, value,
                        "the anode angle must lie between 0 and 90 degrees");
            } else if (arg == "--bin") {
                options.tube.binWidth = Number(arg, value);
                Require(options.tube.binWidth >= 0.05 && options.tube.binWidth <= 5.0, arg, value,
                        "the bin width must lie between 0.05 and 5 keV");
            } else if (arg == "--hvl1") {
                options.hvl1 = Number(arg, value);
                Require(options.hvl1 > 0.0, arg, value, "the half-value layer must be positive");
            } else if (arg == "--inherent" || arg == "--filter") {
                options.layers.push_back(ParseLayer(arg, value));
            } else if (arg == "--title") {
                // A comment that begins with EOF ends a spectrum file for its readers.
                Require(value.find_first_of("\r\n") == std::string::npos && value.compare(0, 3, "EOF") != 0,
                        arg, value, "the title must be one line that does not begin with EOF");
                options.title = value;
            } else if (arg == "--xcom") {
                options.xcomDir = value;
            } else if (arg == "--air") {
                options.airTable = value;
            } else if (arg == "--materials") {
                options.definitions = value;
            } else {
                throw std::runtime_error("unknown option " + arg + "\n" + kUsage);
            }
        } else if (options.output.empty()) {
            options.output = arg;
        } else {
            throw std::runtime_error("unexpected argument " + arg + " (the output is " + options.output +
                                     ")\n" + kUsage);
        }
    }
    if (!voltageGiven)
        throw std::runtime_error(std::string("--kv: the tube voltage is required\n") + kUsage);
    if (options.output.empty())
        throw std::runtime_error(std::string("no output file given\n") + kUsage);
    return options;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Filtration(const std::vector<Layer>& layers) {
    std::string text;
    for (const auto& layer : layers)
        text += (text.empty() ? "" : ", ") + layer.material + " " + layer.thicknessText + " mm (" +
                Format("%g", layer.density) + " g/cm3" +
                (layer.option == "--inherent" ? ", inherent"
                 : layer.option == "--hvl1"   ? ", fitted to the HVL1"
                                              : "") +
                ")";
    return text.empty() ? "none" : text;
}

std::vector<std::string> Summary(const Options& options, const std::vector<Layer>& layers,
                                 const spectrum::BeamQuality& quality) {
    std::vector<std::string> lines;
    lines.push_back(
        "X-ray tube spectrum by tarvo-spectrum: a model spectrum computed from published physics, "
        "not a measurement.");
    if (!options.title.empty())
        lines.push_back(options.title);
    lines.push_back("Command: " + options.command);
    lines.push_back("Tube voltage: " + Format("%g", options.tube.voltage) + " kV; anode: W, angle " +
                    Format("%g", options.tube.anodeAngle) +
                    " deg; bins: " + Format("%g", options.tube.binWidth) + " keV");
    lines.push_back("Filtration: " + Filtration(layers));
    for (const auto& line : spectrum::ModelDescription(options.tube))
        lines.push_back(line);
    lines.push_back(
        "Half-value layers of the air kerma (air mu_en/rho: Hubbell and Seltzer, NIST SRD 126), narrow "
        "beam, in aluminium (XCOM):");
    lines.push_back("HVL1: " + Format("%.4f", quality.hvl1) + " mm Al");
    lines.push_back("HVL2: " + Format("%.4f", quality.hvl2) + " mm Al");
    lines.push_back("Homogeneity coefficient HVL1/HVL2: " + Format("%.4f", quality.Homogeneity()));
    lines.push_back("Mean energy: " + Format("%.3f", quality.meanEnergy) + " keV");
    lines.push_back(
        "Columns: energy (keV), photons per steradian per electron in the bin centred there or in the "
        "line named after them.");
    return lines;
}

// The anode's spectrum through every layer; each layer learns its density.
std::vector<spectrum::SpectrumEntry> Filtered(std::vector<spectrum::SpectrumEntry> entries,
                                              std::vector<Layer>& layers, const Options& options) {
    for (auto& layer : layers) {
        try {
            const auto absorber =
                spectrum::Absorber::Resolve(layer.material, options.definitions, options.xcomDir);
            layer.density = absorber.Density();
            spectrum::Attenuate(entries, absorber, layer.thickness);
        } catch (const std::exception& e) {
            throw std::runtime_error(layer.option + " " + layer.material + ":" + layer.thicknessText + ": " +
                                     e.what());
        }
    }
    return entries;
}

void DropNegligible(std::vector<spectrum::SpectrumEntry>& entries) {
    double strongest = 0.0;
    for (const auto& e : entries)
        strongest = std::max(strongest, e.intensity);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const spectrum::SpectrumEntry& e) {
                                     return e.intensity < kNegligible * strongest;
                                 }),
                  entries.end());
}

// Written to a temporary file renamed into place, so a failure leaves no partial spectrum behind.
void Write(const std::string& path, const std::vector<std::string>& header,
           const std::vector<spectrum::SpectrumEntry>& entries) {
    const std::string temporary = path + ".tmp";
    try {
        auto out = datafiles::OpenOutputFile(temporary, EndsWith(path, ".xrc"));
        for (const auto& line : header)
            *out << "# " << line << '\n';
        char text[128];
        for (const auto& e : entries) {
            std::snprintf(text, sizeof text, "%.4f %.6e", e.energy, e.intensity);
            *out << text << (e.line.empty() ? "" : " " + e.line) << '\n';
        }
        out->Close();
    } catch (const std::exception& e) {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write " + path + ": " + e.what());
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace

int main(int argc, char** argv) {
    try {
        XRayInit();
        const Options options = ParseArguments(argc, argv);
        const auto tungsten = spectrum::Absorber::Resolve("W", options.definitions, options.xcomDir);
        const auto aluminium = spectrum::Absorber::Resolve("Al", options.definitions, options.xcomDir);
        const auto air = spectrum::AirKerma::Load(options.airTable);
        auto layers = options.layers;
        auto entries = Filtered(spectrum::AnodeSpectrum(options.tube, tungsten), layers, options);
        if (options.hvl1 > 0.0) {
            const double fitted = spectrum::FitAluminium(entries, options.hvl1, air, aluminium);
            spectrum::Attenuate(entries, aluminium, fitted);
            layers.push_back({"Al", Format("%.4f", fitted), fitted, aluminium.Density(), "--hvl1"});
        }
        DropNegligible(entries);
        const auto quality = spectrum::Measure(entries, air, aluminium);
        const auto summary = Summary(options, layers, quality);
        Write(options.output, summary, entries);
        for (const auto& line : summary)
            std::cout << line << '\n';
        std::cout << "Wrote " << options.output << " (" << entries.size() << " lines)\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "tarvo-spectrum: " << e.what() << '\n';
        return 1;
    }
}
