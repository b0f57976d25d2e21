#include "sources/SourceFactory.h"

#include <stdexcept>
#include <string>

#include "geometry/ObjectFactory.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"
#include "sources/ListSource.h"
#include "sources/SimpleSource.h"

namespace {

std::function<void(const std::string&)> Warnings(const IScene& scene) {
    return [&scene](const std::string& text) { scene.GetMessageSink()(text + "\n", true); };
}

template <class Create> auto Prefixed(const char* prefix, Create create) -> decltype(create()) {
    try {
        return create();
    } catch (const std::exception& e) {
        throw std::runtime_error(prefix + std::string(e.what()));
    }
}

std::unique_ptr<TBasicSource> CreateMonochromatic(const inifiles::TIniFileSection& section, IScene& scene) {
    return Prefixed("TMonochromaticSource: ", [&]() -> std::unique_ptr<TBasicSource> {
        return std::make_unique<TMonochromaticSource>(section, Warnings(scene));
    });
}

// Equal spectra (every number of every line) are shared by the scene's sources.
std::shared_ptr<const SourceSpectrum> Pooled(SourceSpectrum spectrum, const IScene& scene) {
    for (std::size_t i = 0; i < scene.SourceCount(); ++i) {
        const auto* other = dynamic_cast<const TPolychromaticSource*>(&scene.GetSource(i));
        if (other != nullptr && *other->GetSpectrum() == spectrum)
            return other->GetSpectrum();
    }
    return std::make_shared<const SourceSpectrum>(std::move(spectrum));
}

std::unique_ptr<TBasicSource> CreatePolychromatic(const inifiles::TIniFileSection& section, IScene& scene) {
    return Prefixed("TPolychromaticSource: ", [&]() -> std::unique_ptr<TBasicSource> {
        const inifiles::TIniFileVariable* file = section.TryFindVariable("Spectrum");
        const inifiles::TIniFileSection* sub = section.TryFindSubsection("Spectrum");
        if (file != nullptr && sub != nullptr)
            throw std::runtime_error("Spectrum is given both as a key and as a sub-section");
        if (file == nullptr && sub == nullptr)
            throw inifiles::ItemNotFound("Can't find variable Spectrum");
        SourceSpectrum spectrum = file != nullptr
                                      ? SourceSpectrum::ReadFile(inifiles::MakePath(*file, file->GetValue()))
                                      : SourceSpectrum::FromSection(*sub);
        return std::make_unique<TPolychromaticSource>(section, Pooled(std::move(spectrum), scene),
                                                      Warnings(scene));
    });
}

// The list's file belongs to the source as an input: no writer may truncate it.
template <typename T>
std::unique_ptr<TBasicSource> MakeList(const inifiles::TIniFileSection& section, IScene& scene) {
    auto list = std::make_unique<TListSource<T>>(
        section, [&scene](const std::string& text) { scene.GetMessageSink()(text + "\n", false); });
    return Prefixed("TListSource: ", [&]() -> std::unique_ptr<TBasicSource> {
        scene.ClaimFile(list->FileName(), "the particle list of a list source", false);
        return std::move(list);
    });
}

// "Single" (default true) chooses the precision the list is held in.
std::unique_ptr<TBasicSource> CreateList(const inifiles::TIniFileSection& section, IScene& scene) {
    bool single = true;
    Prefixed("TListSource: ", [&] { return inifiles::ReadOptional(section, "Single", single); });
    return single ? MakeList<float>(section, scene) : MakeList<double>(section, scene);
}

std::unique_ptr<TBasicGeometricalObject> AsObject(std::unique_ptr<TBasicSource> source) {
    return source;
}

} // namespace

std::unique_ptr<TBasicSource> CreateSource(const inifiles::TIniFileSection& section, IScene& scene) {
    if (section.HasVariable("ParticleList"))
        return CreateList(section, scene);
    if (section.HasVariable("Spectrum") || section.HasSubsection("Spectrum"))
        return CreatePolychromatic(section, scene);
    return CreateMonochromatic(section, scene);
}

void RegisterSourceTypes() {
    geometry::RegisterObjectType("MonochromaticSource",
                                 [](const inifiles::TIniFileSection& s, IScene& scene) {
                                     return AsObject(CreateMonochromatic(s, scene));
                                 });
    geometry::RegisterObjectType("PolychromaticSource",
                                 [](const inifiles::TIniFileSection& s, IScene& scene) {
                                     return AsObject(CreatePolychromatic(s, scene));
                                 });
    geometry::RegisterObjectType("Source", [](const inifiles::TIniFileSection& s, IScene& scene) {
        return AsObject(CreateSource(s, scene));
    });
}
