#pragma once

// The parameter block of one run, filled from the application configuration's
// sections [ApplicationTask], [DataSources], [MaterialProperties] and [Physics],
// with the summaries that describe it and the small formatting helpers that the
// summaries and the run driver share.

#include "datafiles/Formatting.h"
#include "datafiles/ImageTypes.h"
#include "inifiles/IniValues.h"
#include "interactions/PhotonInteractionsModel.h"
#include "materials/MaterialProperties.h"
#include "random/RandomNumbersGenerator.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

std::istream& operator>>(std::istream& stream, ImageType& type);
std::istream& operator>>(std::istream& stream, PixelType& type);
// The names of datafiles/ImageTypes.h ("TIFF", "UInt16" ...), or the code as a number.
std::ostream& operator<<(std::ostream& stream, ImageType type);
std::ostream& operator<<(std::ostream& stream, PixelType type);

INIFILES_TYPE_NAME(ImageType, "ImageType");
INIFILES_TYPE_NAME(PixelType, "PixelType");
INIFILES_TYPE_NAME(PRNG_Type, "PRNG_Type");

// Receives the user-visible messages; isError selects the error stream.
using ParameterMessageSink = std::function<void(const std::string& text, bool isError)>;

class TSimulationParameters {
public:
    // [ApplicationTask]
    SizeType NumberOfParticles = 0;  // required: NumberOfParticles, else NumberOfPhotons
    SizeType MaxNumberOfTracers = 0; // 0: no limit
    SizeType BatchSize = 0;          // 0: no batching; a given 0 becomes 1
    SizeType TracesPerEmission = 1;
    SizeType SAHBins = 42;
    SizeType MaxLeafCount = 5;
    SizeType MaxBVHDepth = 500;
    bool Single = false;
    bool Caching = true;
    bool TargetPixels = false;
    bool RayCasting = false;
    bool Radiography = true;
    bool QuasiMonteCarlo = false;
    bool ResetInteractionCount = false;
    bool ResetInteractionCountFirst = false;
    bool StartImmediately = false;
    bool PerParticle = true;
    bool CompressResults = false;
    PRNG_Type PRNG = PRNG_Type::MT19937_64;
    std::uint32_t RandomSeed = 0; // when missing: calendar seconds modulo 10000
    ::ImageType ImageType = ::ImageType::TIFF;
    ::PixelType PixelType = ::PixelType::Default;
    SizeType NormalizeErrors = 0; // 0: off
    SizeType NormalizeImages = 0; // 0: off
    std::int64_t TimeStep = 5;    // seconds
    std::int64_t MaxTimeStep = 60;
    std::int64_t SaveInterval = 3600; // below 1: off
    std::string ResultDir;

    // [DataSources]: resolved against the section's base path; empty if not given.
    std::string SceneFileName;
    std::string MaterialsFileName;
    std::string DetectorsFileName;

    // [Physics]
    bool FullPhysics = false; // else UseTotalDifferentialCrossSections
    bool ElectronTransport = false;
    bool UsePhotonSplitting = true;
    std::int32_t MaxNumberOfInteractions = -1; // -1: unlimited
    // [Physics]/[InteractionsModel], or the default list; shared read-only by every tracer.
    std::shared_ptr<const interactions::TPhotonInteractionsModel> InteractionsModel;

    // [MaterialProperties]; ElectronTransport is copied from [Physics].
    materials::MaterialProperties MaterialProperties;

    // Replaces the whole block by the values of `configuration`: a missing section or
    // key gives the default above, ResultDir defaults to `defaultResultDir`. Without
    // RandomSeed a seed is drawn and appended to [ApplicationTask] of `configuration`.
    // The first malformed value throws (errors in [Physics] end in " in [Physics]")
    // and leaves the block and the tree unchanged. Sends the warning
    // "Image normalization constant [possibly ]too large for 16bit." to `sink` (as an
    // error-stream message) when NormalizeImages or NormalizeErrors exceeds 50000.
    void ReadParameters(inifiles::TIniFileStructure& configuration, const std::string& defaultResultDir = "",
                        const ParameterMessageSink& sink = nullptr);

    // Whether the interactions model holds an interaction of that type number.
    bool HasInteraction(std::int32_t type) const {
        return InteractionsModel && InteractionsModel->HasInteraction(type);
    }

    // One line per item, each "  Label: value"; flags print as the stream prints
    // booleans (switch std::boolalpha on for true/false).
    void PrintParameterSummary(std::ostream& stream) const;
    // "Simulation Summary: ", the parameter summary, physics, interactions model and
    // material-property lines.
    void PrintSimulationSummary(std::ostream& stream) const;
};
