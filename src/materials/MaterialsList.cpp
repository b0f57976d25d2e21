#include "materials/MaterialsList.h"

#include "datafiles/Text.h"
#include "inifiles/IniFile.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace materials {

TMaterialsList::TMaterialsList(MaterialProperties* properties) : properties_(properties), common_(this) {}

TMaterial* TMaterialsList::GetMaterial(const std::string& name)
{
    if (name.empty() || ToLower(name) == "void")
        return nullptr;
    for (const auto& m : materials_) {
        if (m->GetName() == name)
            return m.get();
    }
    materials_.push_back(std::make_unique<TMaterial>(this, name));
    return materials_.back().get();
}

void TMaterialsList::Load(const std::string& fileName, const MessageSink& sink)
{
    const inifiles::TIniFileStructure file(fileName);
    Load(file, sink);
}

void TMaterialsList::Load(const inifiles::TIniFileStructure& file, const MessageSink& sink)
{
    auto& switches = *properties_;
    for (const auto& m : materials_)
        switches.ElectronTransport = switches.ElectronTransport || m->Properties.UsedWithElectronTransport;

    bool ok = true;
    const auto* kleinNishina = file.TryFindSection("KleinNishina");
    common_.ReadConfiguration(kleinNishina, file.TryFindSection("Thomson"), switches);
    sink("Common Material:", false);
    ok &= common_.LoadData(kleinNishina ? static_cast<const inifiles::TIniFileElement&>(*kleinNishina) : file, sink);
    sink("\n", false);

    const inifiles::TIniFileSection* section = materials_.empty() ? nullptr : &file.FindSection("Materials");
    for (const auto& m : materials_) {
        sink(m->GetName() + ":", false);
        try {
            const auto& own = section->FindSubsection(m->GetName());
            m->ReadConfiguration(own, switches);
            ok &= m->LoadData(own, switches, sink);
        } catch (const std::exception& e) {
            sink(e.what(), true);
            ok = false;
        }
        sink("\n", false);
    }
    // A material that failed to load says nothing reliable about the energy range.
    if (!ok)
        throw std::runtime_error("Error loading materials data");

    double lowest = common_.LowestEnergy();
    for (const auto& m : materials_)
        lowest = std::max(lowest, m->LowestEnergy());
    if (switches.MinEnergy > 0.0) {
        if (lowest > switches.MinEnergy) {
            std::ostringstream text;
            text << "Not enough data below " << switches.MinEnergy << " keV";
            throw std::runtime_error(text.str());
        }
    } else {
        switches.MinEnergy = lowest;
        switches.MinElectronEnergy = std::max(switches.MinElectronEnergy, lowest);
    }
}

void TMaterialsList::PrintSummary(std::ostream& out) const
{
    out << "Materials Summary:\n  Common Material:\n";
    common_.PrintSummary(out);
    for (const auto& m : materials_) {
        out << "  Material Name: " << m->GetName() << '\n';
        m->PrintSummary(out, *properties_);
    }
}

void TMaterialsList::UpdateTotals(const TInteractionSelection& selection) {
    for (const auto& material : materials_) {
        material->Properties.SimpleCoefficients.UpdateTotal(selection);
        material->Properties.Coefficients.UpdateTotal(selection);
    }
}

} // namespace materials
