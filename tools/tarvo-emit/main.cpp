// tarvo-emit: previews the sources of a configuration. Loads the scene (without
// materials), emits COUNT particles with the configuration's generator and prints one
// line per emission, "source x y z ux uy uz energy weight status", then "# draws N",
// the number of uniform numbers used.
//
//   tarvo-emit CONFIG COUNT [--seed S] [--source I] [--toward X,Y,Z]
//
// Without --source the emissions take the sources in turn. Without --seed the
// seed is the configuration's RandomSeed, else 189705 (never the clock), so a
// preview repeats.

#include <cstdint>
#include <iomanip>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/ObjectTypes.h"
#include "app/SimulationParameters.h"
#include "geometry/SceneLoader.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"
#include "random/QuasiRandom.h"
#include "random/RandomNumbersGenerator.h"
#include "sources/SimpleSource.h"
#include "sources/SourceFactory.h"

namespace {

const char* const kUsage = "Usage: tarvo-emit CONFIG COUNT [--seed S] [--source I] [--toward X,Y,Z]";

struct Options {
    std::string config;
    SizeType count = 0;
    bool seedGiven = false;
    std::uint32_t seed = 0;
    bool sourceGiven = false;
    std::size_t source = 0;
    bool toward = false;
    geometry::TCoord<double> target;
};

std::uint64_t ParseUnsigned(const std::string& text, const std::string& what) {
    std::size_t used = 0;
    std::uint64_t value = 0;
    try {
        value = std::stoull(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || text[0] == '-')
        throw std::runtime_error("Invalid " + what + ": " + text);
    return value;
}

Options ParseArguments(int argc, char** argv) {
    Options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::runtime_error("Missing value after " + arg);
            return argv[++i];
        };
        if (arg == "--seed") {
            o.seed = static_cast<std::uint32_t>(ParseUnsigned(value(), "seed"));
            o.seedGiven = true;
        } else if (arg == "--source") {
            o.source = ParseUnsigned(value(), "source index");
            o.sourceGiven = true;
        } else if (arg == "--toward") {
            const std::vector<double> xyz = inifiles::ParseNumberList(value());
            if (xyz.size() != 3)
                throw std::runtime_error("--toward needs three numbers X,Y,Z");
            o.target = geometry::TCoord<double>(xyz[0], xyz[1], xyz[2]);
            o.toward = true;
        } else if (!arg.empty() && arg[0] == '-' && arg.size() > 1) {
            throw std::runtime_error("Unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2)
        throw std::runtime_error(kUsage);
    o.config = positional[0];
    o.count = ParseUnsigned(positional[1], "count");
    return o;
}

// The run's generator: "PRNG", "RandomSeed" (or --seed) and "QuasiMonteCarlo" of
// [ApplicationTask], with the program's defaults where they are missing.
std::unique_ptr<TRandomNumbersGenerator> MakeGenerator(const inifiles::TIniFileStructure& config,
                                                       const Options& o) {
    PRNG_Type kind = PRNG_Type::MT19937_64;
    std::uint32_t seed = TRandomNumbersGenerator::kDefaultSeed;
    bool quasi = false;
    if (const inifiles::TIniFileSection* task = config.TryFindSection("ApplicationTask")) {
        inifiles::ReadOptional(*task, "PRNG", kind);
        inifiles::ReadOptional(*task, "RandomSeed", seed);
        inifiles::ReadOptional(*task, "QuasiMonteCarlo", quasi);
    }
    if (o.seedGiven)
        seed = o.seed;
    std::unique_ptr<TRandomNumbersGenerator> generator = CreateGenerator(kind);
    generator->SetSeed(seed);
    if (quasi)
        return std::make_unique<KW_QuasiRandom>(seed, *generator, false);
    return generator;
}

geometry::SceneSettings Settings(const inifiles::TIniFileStructure& config) {
    geometry::SceneSettings settings;
    if (const inifiles::TIniFileSection* task = config.TryFindSection("ApplicationTask"))
        inifiles::ReadOptional(*task, "Single", settings.Single);
    if (const inifiles::TIniFileSection* sources = config.TryFindSection("DataSources"))
        if (const inifiles::TIniFileVariable* scene = sources->TryFindVariable("SceneFileName"))
            settings.SceneFileName = inifiles::MakePath(*scene, scene->GetValue());
    return settings;
}

int Run(const Options& o) {
    RegisterSceneObjectTypes();
    inifiles::TIniFileStructure config(o.config);
    std::unique_ptr<TRandomNumbersGenerator> rng = MakeGenerator(config, o);
    const geometry::MessageSink messages = [](const std::string& text, bool) { std::cerr << text; };
    geometry::LoadedScene loaded = geometry::LoadSceneGeometry(config, Settings(config), messages);
    IScene& scene = *loaded.Scene;
    const std::size_t sources = scene.SourceCount();
    if (sources == 0)
        throw std::runtime_error("No sources in " + o.config);
    if (o.sourceGiven && o.source >= sources)
        throw std::runtime_error("Source " + std::to_string(o.source) + " does not exist; the scene has " +
                                 std::to_string(sources));
    std::cout << std::setprecision(17);
    for (SizeType k = 0; k < o.count; ++k) {
        const std::size_t index = o.sourceGiven ? o.source : static_cast<std::size_t>(k % sources);
        TBasicSource& source = AsSource(scene.GetSource(index));
        const TParticle* p = nullptr;
        if (o.toward) {
            auto* simple = dynamic_cast<TSimpleSource*>(&source);
            if (simple == nullptr)
                throw std::runtime_error("--toward needs sources with a shape");
            p = simple->EmitToward(o.target, *rng);
        } else {
            p = source.Emit(*rng);
        }
        const geometry::TCoord<double> d = p->DirectionVector();
        std::cout << index << ' ' << p->Position.x << ' ' << p->Position.y << ' ' << p->Position.z << ' '
                  << d.x << ' ' << d.y << ' ' << d.z << ' ' << p->Energy << ' ' << p->Weight << ' '
                  << p->Status << '\n';
    }
    std::cout << "# draws " << rng->DrawCount() << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(ParseArguments(argc, argv));
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        return 1;
    }
}
