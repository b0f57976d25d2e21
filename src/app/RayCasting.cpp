#include "app/RayCasting.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <typeinfo>
#include <utility>
#include <vector>

#include <omp.h>

#include "app/SimulationParameters.h"
#include "app/SystemUtils.h"
#include "detectors/ImageWriter.h"
#include "detectors/PlaneDetector.h"
#include "geometry/Rasterizer.h"
#include "geometry/Scene.h"
#include "interactions/Part.h"
#include "materials/MaterialsList.h"
#include "sources/SimpleSource.h"
#include "sources/SourceFactory.h"

namespace {

using geometry::TCoord;

std::string Label(const char* kind, std::size_t index, const std::string& name) {
    return std::string(kind) + " " + (name.empty() ? std::to_string(index) : name);
}

std::string TypeName(const TBasicGeometricalObject& object) {
    int status = 0;
    const std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(typeid(object).name(), nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(typeid(object).name());
}

// What the rays of one pair need to know of the source and the detector.
struct PairGeometry {
    geometry::PixelGrid Grid;
    TCoord<double> Source; // the source point, world coordinates
    double Height = 0;     // its distance from the detector plane
    double Reference = 0;  // from it along the emission axis to the plane
};

PairGeometry MakeGeometry(const TSimpleSource& source, const TPlaneDetector& detector) {
    PairGeometry g;
    const TCoord<double> a = detector.PointA(), ab = detector.PointB() - a, ac = detector.PointC() - a;
    g.Grid = {a, ab * (1 / double(detector.Columns)), ac * (1 / double(detector.Rows)),
              std::int64_t(detector.Columns), std::int64_t(detector.Rows)};
    TCoord<double> normal = Cross(ab, ac);
    normal = normal * (1 / Norm(normal));
    g.Source = source.WorldOrigin();
    g.Height = std::fabs(Dot(g.Source - a, normal));
    // An axis along the plane never meets it: the nearest distance stands in. The
    // source's turned frame leaves rounding of about 1e-16 in an axis meant to be parallel.
    const double cosine = std::fabs(Dot(source.WorldAxis(), normal));
    g.Reference = cosine > 1e-12 ? g.Height / cosine : g.Height;
    return g;
}

// Where the parts' path lengths go: channel 0 is the "air" material, then one channel
// per other material in order of first use. Void parts (vacuum: no attenuation) and
// parts without a material (which stop every photon, as in the tracer) have channels
// of their own, so that they count as matter but attenuate by their own rule.
struct Layout {
    enum Kind { Air, Matter, Void, Blocking };
    struct Channel {
        Kind Type;
        const materials::TMaterial* Material;
    };
    std::vector<Channel> Channels;
    geometry::RasterObjects Objects;

    std::size_t ChannelOf(Kind type, const materials::TMaterial* material) {
        for (std::size_t c = 0; c < Channels.size(); ++c)
            if (Channels[c].Type == type && Channels[c].Material == material)
                return c;
        Channels.push_back({type, material});
        return Channels.size() - 1;
    }
};

Layout MakeLayout(const IScene& scene, const materials::TMaterial* air) {
    Layout layout;
    layout.Channels.push_back({Layout::Air, air});
    layout.Objects.Channels.assign(scene.TraceableCount(), -1);
    for (std::uint32_t id = 0; id < scene.TraceableCount(); ++id)
        layout.Objects.Objects.push_back(&scene.GetTraceable(id));
    for (std::size_t i = 0; i < scene.PartCount(); ++i) {
        const TPart& part = AsPart(scene.GetPart(i));
        const materials::TMaterial* material = part.GetMaterial();
        std::size_t channel = 0;
        if (part.IsVoid())
            channel = layout.ChannelOf(Layout::Void, nullptr);
        else if (material == nullptr)
            channel = layout.ChannelOf(Layout::Blocking, nullptr);
        else if (material != air)
            channel = layout.ChannelOf(Layout::Matter, material);
        layout.Objects.Channels.at(part.ObjectID) = std::int32_t(channel);
    }
    layout.Objects.ChannelCount = layout.Channels.size();
    return layout;
}

// The sources and detectors of the scene, every pair checked before anything runs.
struct Pairs {
    std::vector<const TSimpleSource*> Sources;
    std::vector<TPlaneDetector*> Detectors;
};

Pairs CheckPairs(const IScene& scene, const materials::TMaterial* air,
                 const TSimulationParameters& parameters) {
    Pairs pairs;
    for (std::size_t i = 0; i < scene.SourceCount(); ++i) {
        const TBasicSource& source = AsSource(scene.GetSource(i));
        const auto* simple = dynamic_cast<const TSimpleSource*>(&source);
        if (simple == nullptr)
            throw std::runtime_error("Ray casting is incompatible with " + Label("source", i, source.Name) +
                                     " of type " + source.GetTypeName());
        pairs.Sources.push_back(simple);
    }
    for (std::size_t j = 0; j < scene.DetectorCount(); ++j) {
        TBasicGeometricalObject& object = scene.GetDetector(j);
        auto* plane = dynamic_cast<TPlaneDetector*>(&object);
        if (plane == nullptr)
            throw std::runtime_error("Ray casting is incompatible with " + Label("detector", j, object.Name) +
                                     " of type " + TypeName(object));
        if (plane->Rows * plane->Columns > std::uint64_t(INT_MAX))
            throw std::runtime_error("Too many pixels");
        pairs.Detectors.push_back(plane);
    }
    for (std::size_t i = 0; i < pairs.Sources.size(); ++i)
        for (std::size_t j = 0; j < pairs.Detectors.size(); ++j)
            if (!(MakeGeometry(*pairs.Sources[i], *pairs.Detectors[j]).Height > 0))
                throw std::runtime_error(Label("Source", i, pairs.Sources[i]->Name) +
                                         " lies in the plane of " +
                                         Label("detector", j, pairs.Detectors[j]->Name));
    if (pairs.Sources.empty() || pairs.Detectors.empty())
        return pairs;
    if (scene.VertexCount() > std::size_t(INT_MAX))
        throw std::runtime_error("Too many vertices");
    if (air == nullptr && parameters.Radiography)
        throw std::runtime_error(
            "Ray casting needs the material \"air\", which the materials file does not define");
    return pairs;
}

struct MapFile {
    std::string Name;
    const std::vector<double>* Values;
};

// Writes the maps in parallel, each thread taking the next; the first error is
// raised once all are done, warnings go out in map order.
void WriteMaps(const std::vector<MapFile>& maps, const TPlaneDetector& detector,
               const TSimulationParameters& p, const RayCastingSink& display) {
    ImageWriterOptions options;
    options.Type = p.ImageType;
    options.Pixels = p.PixelType;
    options.Software = VersionBanner();
    std::vector<std::vector<std::string>> warnings(maps.size());
    std::vector<std::exception_ptr> errors(maps.size());
    ImageFile file;
    file.Pixels = p.PixelType;
    file.XResolution = double(detector.Columns) / Norm(detector.PointB() - detector.PointA());
    file.YResolution = double(detector.Rows) / Norm(detector.PointC() - detector.PointA());
    const auto count = std::int64_t(maps.size());
#pragma omp parallel for schedule(dynamic) firstprivate(options, file)
    for (std::int64_t m = 0; m < count; ++m) {
        try {
            options.Warn = [&warnings, m](const std::string& text) {
                warnings[std::size_t(m)].push_back(text);
            };
            file.ClassName = maps[std::size_t(m)].Name;
            WriteImage(
                ImageAccessor<double>(maps[std::size_t(m)].Values->data(), detector.Rows, detector.Columns),
                file, options);
        } catch (...) {
            errors[std::size_t(m)] = std::current_exception();
        }
    }
    for (const auto& list : warnings)
        for (const std::string& text : list)
            display(text, true);
    for (const auto& error : errors)
        if (error)
            std::rethrow_exception(error);
}

// One pair: the per-material maps from the rasteriser, the "air" map, the radiograph.
template <typename T> class PairCalculation {
public:
    PairCalculation(const geometry::Rasterizer<T>& rasterizer, const Layout& layout,
                    const materials::TMaterialsList& materials, const TSimulationParameters& parameters,
                    bool resolveOverlaps)
        : Raster(rasterizer), Channels(layout), Materials(materials), Parameters(parameters),
          Resolve(resolveOverlaps) {}

    // Leaves the maps to write in Files (names without the pair's prefix).
    void Run(const TSimpleSource& source, TPlaneDetector& detector, const RayCastingSink& display) {
        const PairGeometry g = MakeGeometry(source, detector);
        Maps = Raster.CastFrom(g.Source, g.Grid, Resolve);
        if (Maps.Ambiguous)
            display("Partially overlapping objects yield ambiguous intersections", true);
        detector.ClearData();
        PrepareLines(source);
        const std::size_t pixels = std::size_t(g.Grid.Columns * g.Grid.Rows);
        AirMap.assign(pixels, 0.0);
        const std::int64_t rows = g.Grid.Rows;
#pragma omp parallel for schedule(dynamic)
        for (std::int64_t r = 0; r < rows; ++r)
            Row(g, r, detector);
        CollectFiles(pixels);
    }

    std::vector<MapFile> Files;

private:
    void PrepareLines(const TSimpleSource& source) {
        Lines.clear();
        Mu.clear();
        if (!Parameters.Radiography)
            return;
        const materials::MaterialProperties& switches = Materials.Properties();
        for (std::uint64_t k = 0; k < source.GetLineCount(); ++k) {
            TParticle line;
            line.Type = source.GetParticleType();
            line.Weight = 1;
            source.SetLineEnergy(k, line);
            Lines.push_back(line);
            for (const Layout::Channel& channel : Channels.Channels) {
                const bool attenuates = channel.Type == Layout::Air || channel.Type == Layout::Matter;
                Mu.push_back(attenuates ? channel.Material->Attenuation(switches).GetTotal(line.Energy)
                                        : 0.0);
            }
        }
    }

    void Row(const PairGeometry& g, std::int64_t r, TPlaneDetector& detector) {
        const std::size_t channels = Channels.Channels.size();
        for (std::int64_t c = 0; c < g.Grid.Columns; ++c) {
            const std::size_t p = std::size_t(r * g.Grid.Columns + c);
            const double d = Norm(g.Grid.PixelCentre(double(c), double(r)) - g.Source);
            double matter = 0, airParts = 0;
            bool blocked = false;
            for (std::size_t k = 0; k < channels; ++k) {
                const std::vector<double>& map = Maps.Maps[k];
                if (map.empty())
                    continue;
                if (k == 0)
                    airParts = map[p];
                else
                    matter += map[p];
                blocked = blocked || (Channels.Channels[k].Type == Layout::Blocking && map[p] > 0);
            }
            // Overlaps left unresolved can sum to more than the ray is long.
            const double outside = std::max(0.0, d - matter);
            AirMap[p] = Parameters.Caching ? outside : std::max(0.0, outside - airParts);
            if (!Parameters.Radiography)
                continue;
            const double geometric = g.Reference * g.Reference / (d * d) * (g.Height / d);
            for (std::size_t k = 0; k < Lines.size(); ++k) {
                const double* mu = &Mu[k * channels];
                double exponent = -outside * mu[0];
                for (std::size_t m = 1; m < channels; ++m)
                    if (!Maps.Maps[m].empty())
                        exponent -= Maps.Maps[m][p] * mu[m];
                TParticle record = Lines[k];
                record.Weight =
                    blocked ? 0.0 : record.Weight * geometric * (exponent != 0 ? std::exp(exponent) : 1.0);
                detector.RegisterPixel(std::uint64_t(r), std::uint64_t(c), record, record.Weight);
            }
        }
    }

    void CollectFiles(std::size_t pixels) {
        Files.clear();
        const auto& channels = Channels.Channels;
        const std::string airName = channels[0].Material ? channels[0].Material->GetName() : "void";
        if (!Parameters.Caching) {
            Files.push_back({airName, &AirMap});
            return;
        }
        if (Parameters.Radiography)
            Files.push_back({airName, &AirMap});
        else if (!Maps.Maps[0].empty())
            Files.push_back({airName, &Maps.Maps[0]});
        VoidMap.clear();
        for (std::size_t k = 1; k < channels.size(); ++k) {
            const std::vector<double>& map = Maps.Maps[k];
            if (map.empty())
                continue;
            if (channels[k].Type == Layout::Matter) {
                Files.push_back({channels[k].Material->GetName(), &map});
                continue;
            }
            VoidMap.resize(pixels, 0.0);
            for (std::size_t p = 0; p < pixels; ++p)
                VoidMap[p] += map[p];
        }
        if (!VoidMap.empty())
            Files.push_back({"void", &VoidMap});
    }

    const geometry::Rasterizer<T>& Raster;
    const Layout& Channels;
    const materials::TMaterialsList& Materials;
    const TSimulationParameters& Parameters;
    const bool Resolve;
    geometry::ThicknessMaps Maps;
    std::vector<double> AirMap, VoidMap;
    std::vector<TParticle> Lines;
    std::vector<double> Mu; // per line, per channel
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename T>
void CastPairs(const IScene& scene, const geometry::FacetManager<T>& manager, const Pairs& pairs,
               const Layout& layout, const materials::TMaterialsList& materials,
               const TSimulationParameters& p, const std::string& resultPrefix,
               const RayCastingSink& display) {
    const geometry::Rasterizer<T> rasterizer(manager, layout.Objects);
    PairCalculation<T> pair(rasterizer, layout, materials, p, p.Caching && scene.CheckOverlap);
    ImageWriterOptions results;
    results.Compress = p.CompressResults;
    results.Type = p.ImageType;
    results.Pixels = p.PixelType;
    results.Software = VersionBanner();
    results.CountScale = results.EnergyScale = p.NormalizeImages > 0 ? double(p.NormalizeImages) : 1.0;
    results.ErrorScale = p.NormalizeErrors > 0 ? double(p.NormalizeErrors) : 1.0;
    results.Warn = [&display](const std::string& text) { display(text, true); };
    for (std::size_t i = 0; i < pairs.Sources.size(); ++i) {
        for (std::size_t j = 0; j < pairs.Detectors.size(); ++j) {
            const auto start = std::chrono::steady_clock::now();
            TPlaneDetector& detector = *pairs.Detectors[j];
            pair.Run(*pairs.Sources[i], detector, display);
            std::ostringstream seconds;
            seconds << SecondsSince(start) << " s";
            display(seconds.str(), false);
            std::string prefix = resultPrefix;
            if (pairs.Sources.size() > 1)
                prefix += "_Source" + std::to_string(i);
            if (pairs.Detectors.size() > 1)
                prefix += "_Detector" + std::to_string(j);
            std::vector<MapFile> files = pair.Files;
            for (MapFile& file : files)
                file.Name = prefix + "_Thickness_" + file.Name;
            WriteMaps(files, detector, p, display);
            if (p.Radiography)
                detector.WriteResults(prefix, results);
        }
    }
}

} // namespace

const materials::TMaterial* FindAir(const materials::TMaterialsList& materials) {
    for (std::size_t i = 0; i < materials.Count(); ++i)
        if (ToLower(materials.Material(i).GetName()) == "air")
            return &materials.Material(i);
    return nullptr;
}

void RunRayCasting(IScene& scene, const materials::TMaterialsList& materials,
                   const TSimulationParameters& parameters, const std::string& resultPrefix,
                   const RayCastingSink& display) {
    display("cast", false);
    const materials::TMaterial* air = FindAir(materials);
    const Pairs pairs = CheckPairs(scene, air, parameters);
    if (pairs.Sources.empty() || pairs.Detectors.empty())
        return;
    const Layout layout = MakeLayout(scene, air);
    const geometry::IntersectionManager* manager = &scene.GetIntersectionManager();
    if (const auto* single = dynamic_cast<const geometry::FacetManager<float>*>(manager))
        CastPairs(scene, *single, pairs, layout, materials, parameters, resultPrefix, display);
    else if (const auto* precise = dynamic_cast<const geometry::FacetManager<double>*>(manager))
        CastPairs(scene, *precise, pairs, layout, materials, parameters, resultPrefix, display);
    else
        throw std::runtime_error("Ray casting needs a scene of facets");
}
