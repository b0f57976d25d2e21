#include "detectors/ParticleRegistrator.h"

#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "geometry/TextParsing.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"

namespace {

struct RegistratorTypes {
    std::mutex Lock;
    std::vector<std::pair<std::string, RegistratorCreator>> Entries;
};

RegistratorTypes& Types() {
    static RegistratorTypes types;
    return types;
}

} // namespace

void ParticleRegistrator::HandOver(std::unique_ptr<ParticleRegistrator>& part) {
    EndOfRun();
    part = Clone();
    part->Merge(*this);
    Reset();
}

void RegisterRegistratorType(const std::string& type, RegistratorCreator create) {
    RegistratorTypes& types = Types();
    std::lock_guard<std::mutex> guard(types.Lock);
    for (auto& entry : types.Entries)
        if (geometry::text::EqualsNoCase(entry.first, type)) {
            entry.second = std::move(create);
            return;
        }
    types.Entries.emplace_back(type, std::move(create));
}

std::unique_ptr<ParticleRegistrator> CreateRegistrator(const inifiles::TIniFileSection& section,
                                                       IScene& scene) {
    std::string type = "Spectrometer";
    inifiles::ReadOptional(section, "Type", type);
    RegistratorCreator create;
    {
        RegistratorTypes& types = Types();
        std::lock_guard<std::mutex> guard(types.Lock);
        for (const auto& entry : types.Entries)
            if (geometry::text::EqualsNoCase(entry.first, type))
                create = entry.second;
    }
    if (!create)
        throw std::runtime_error("Unknown registrator type " + type);
    return create(section, scene);
}
