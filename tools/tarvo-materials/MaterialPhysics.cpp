#include "MaterialPhysics.h"

#include "XraylibCall.h"

#include <xraylib.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

namespace matgen {

namespace {

constexpr int kLastEdgeShell = N7_SHELL;
constexpr int kLastFluorescenceShell = M5_SHELL;

// First and last xraylib line macro of the lines that fill a vacancy in each
// shell K..M5 (the macros are negative and consecutive per shell).
constexpr int kShellLines[][2] = {{KL1_LINE, KP5_LINE},    {L1L2_LINE, L1P5_LINE}, {L2L3_LINE, L2Q1_LINE},
                                  {L3M1_LINE, L3Q1_LINE},  {M1N1_LINE, M1P5_LINE}, {M2N1_LINE, M2P5_LINE},
                                  {M3N1_LINE, M3Q1_LINE},  {M4N1_LINE, M4P5_LINE}, {M5N1_LINE, M5P5_LINE}};

std::string Symbol(int Z)
{
    xrl_error* error = nullptr;
    std::unique_ptr<char, void (*)(void*)> symbol(AtomicNumberToSymbol(Z, &error), xrlFree);
    if (!symbol) {
        if (error)
            xrl_error_free(error);
        throw std::runtime_error("no element with Z = " + std::to_string(Z));
    }
    return symbol.get();
}

// Largest energy (keV) at which xraylib still has partial photo cross sections
// of element Z; above it the shell fractions are held constant.
double PartialLimit(int Z)
{
    for (double e = MaterialPhysics::kXraylibLimit; e > 1.0; e *= 0.99) {
        if (XrlOr(-1.0, CS_Photo_Partial, Z, static_cast<int>(K_SHELL), e) > 0.0)
            return e;
    }
    return 1.0;
}

// Locates the jump of CS_Photo(Z) near `edge`, searching `halfWidth` either side.
bool FindJump(int Z, double edge, double halfWidth, double& below, double& above)
{
    const double step = 1e-5;
    double best = 1.0 + 1e-6;
    bool found = false;
    double previous = XrlCall(CS_Photo, Z, edge - halfWidth);
    for (double e = edge - halfWidth; e < edge + halfWidth; e += step) {
        const double next = XrlCall(CS_Photo, Z, e + step);
        if (next / previous > best) {
            best = next / previous;
            below = e;
            above = e + step;
            found = true;
        }
        previous = next;
    }
    if (!found)
        return false;
    const double low = XrlCall(CS_Photo, Z, below);
    const double high = XrlCall(CS_Photo, Z, above);
    while (above - below > 1e-10 * above) {
        const double mid = 0.5 * (below + above);
        const double v = XrlCall(CS_Photo, Z, mid);
        if (std::fabs(v - low) < std::fabs(high - v))
            below = mid;
        else
            above = mid;
    }
    return true;
}

} // namespace

MaterialPhysics::MaterialPhysics(const MaterialDefinition& definition, const std::string& xcomDir)
    : definition_(definition)
{
    for (const auto& e : definition_.elements)
        xcom_.push_back(XcomTable::Load(xcomDir + "/" + XcomTable::FileName(e.Z, Symbol(e.Z))));
}

double MaterialPhysics::ElementPhoto(std::size_t element, double energy, bool fromXcom) const
{
    const int Z = definition_.elements[element].Z;
    return fromXcom ? xcom_[element].Photo(energy) : XrlCall(CS_Photo, Z, energy);
}

Attenuation MaterialPhysics::Coefficients(double energy, bool fromXcom) const
{
    Attenuation mass;
    for (std::size_t i = 0; i < definition_.elements.size(); ++i) {
        const auto& e = definition_.elements[i];
        mass.photo += e.massFraction * ElementPhoto(i, energy, fromXcom);
        if (fromXcom) {
            mass.compton += e.massFraction * xcom_[i].Compton(energy);
            mass.rayleigh += e.massFraction * xcom_[i].Rayleigh(energy);
        } else {
            mass.compton += e.massFraction * XrlCall(CS_Compt, e.Z, energy);
            mass.rayleigh += e.massFraction * XrlCall(CS_Rayl, e.Z, energy);
        }
        mass.pair += e.massFraction * xcom_[i].Pair(energy);
    }
    const double rho = definition_.density;
    return {mass.photo * rho, mass.compton * rho, mass.rayleigh * rho, mass.pair * rho};
}

void MaterialPhysics::CheckSourceSwitch(double tolerance) const
{
    const double e = kXraylibLimit;
    for (std::size_t i = 0; i < definition_.elements.size(); ++i) {
        const int Z = definition_.elements[i].Z;
        const struct {
            const char* name;
            double xraylib, xcom;
        } components[] = {{"photo effect", XrlCall(CS_Photo, Z, e), xcom_[i].Photo(e)},
                          {"Compton", XrlCall(CS_Compt, Z, e), xcom_[i].Compton(e)},
                          {"Rayleigh", XrlCall(CS_Rayl, Z, e), xcom_[i].Rayleigh(e)}};
        for (const auto& c : components) {
            if (std::fabs(c.xcom - c.xraylib) <= tolerance * c.xraylib)
                continue;
            std::ostringstream text;
            text << definition_.name << ": the " << c.name << " cross section of " << Symbol(Z) << " is "
                 << c.xraylib << " cm^2/g in xraylib but " << c.xcom << " cm^2/g in its XCOM table at " << e
                 << " keV, where the data change source; check the XCOM table";
            throw std::runtime_error(text.str());
        }
    }
}

std::vector<double> MaterialPhysics::XcomEnergies(double low, double high) const
{
    std::vector<double> energies;
    for (const auto& table : xcom_) {
        for (double e : table.Energies()) {
            if (e > low && e < high)
                energies.push_back(e);
        }
    }
    std::sort(energies.begin(), energies.end());
    energies.erase(std::unique(energies.begin(), energies.end()), energies.end());
    return energies;
}

std::vector<PhotoJump> MaterialPhysics::PhotoJumps(double low, double high) const
{
    std::vector<PhotoJump> jumps;
    for (const auto& element : definition_.elements) {
        std::vector<std::pair<double, int>> edges;
        for (int shell = K_SHELL; shell <= kLastEdgeShell; ++shell) {
            const double edge = XrlOr(0.0, EdgeEnergy, element.Z, shell);
            if (edge > 0.0)
                edges.emplace_back(edge, shell);
        }
        std::sort(edges.begin(), edges.end());
        for (std::size_t i = 0; i < edges.size(); ++i) {
            // Stay clear of the neighbouring edges so each search finds its own jump.
            double halfWidth = 0.02;
            if (i > 0)
                halfWidth = std::min(halfWidth, 0.5 * (edges[i].first - edges[i - 1].first));
            if (i + 1 < edges.size())
                halfWidth = std::min(halfWidth, 0.5 * (edges[i + 1].first - edges[i].first));
            PhotoJump jump{element.Z, edges[i].second, edges[i].first, 0.0, 0.0};
            // The data may jump a few eV away from the edge energy, so edges
            // just outside the range can still jump inside it.
            if (jump.edge + halfWidth <= low || jump.edge - halfWidth >= high)
                continue;
            if (FindJump(element.Z, jump.edge, halfWidth, jump.below, jump.above) && jump.below > low &&
                jump.above < high)
                jumps.push_back(jump);
        }
    }
    std::sort(jumps.begin(), jumps.end(), [](const PhotoJump& a, const PhotoJump& b) { return a.above < b.above; });
    return jumps;
}

double MaterialPhysics::ScatteringFunction(double x) const
{
    double sum = 0.0;
    for (const auto& e : definition_.elements)
        sum += e.atoms * XrlCall(SF_Compt, e.Z, x);
    return sum;
}

double MaterialPhysics::FormFactor(double x) const
{
    double sum = 0.0;
    for (const auto& e : definition_.elements) {
        const double f = XrlCall(FF_Rayl, e.Z, x);
        sum += e.atoms * f * f;
    }
    return std::sqrt(sum);
}

std::vector<FluorescenceShell> MaterialPhysics::FluorescenceShells(double minEnergy) const
{
    const auto jumps = PhotoJumps(minEnergy, kXraylibLimit);
    std::vector<FluorescenceShell> shells;
    for (const auto& element : definition_.elements) {
        for (int shell = K_SHELL; shell <= kLastFluorescenceShell; ++shell) {
            const double edge = XrlOr(0.0, EdgeEnergy, element.Z, shell);
            if (edge < minEnergy)
                continue;
            FluorescenceShell s{element.Z, shell, edge, edge, PartialLimit(element.Z), {}};
            for (const auto& j : jumps) {
                if (j.Z == element.Z && j.shell == shell)
                    s.jumpAbove = j.above;
            }
            const double yield = XrlOr(0.0, FluorYield, element.Z, shell);
            for (int line = kShellLines[shell][0]; line >= kShellLines[shell][1]; --line) {
                const double energy = XrlOr(0.0, LineEnergy, element.Z, line);
                const double rate = XrlOr(0.0, RadRate, element.Z, line);
                if (energy > 0.0 && rate > 0.0 && yield > 0.0)
                    s.lines.push_back({energy, yield * rate});
            }
            shells.push_back(s);
        }
    }
    return shells;
}

std::vector<double> MaterialPhysics::ShellProbabilities(const std::vector<FluorescenceShell>& shells, double energy,
                                                        bool fromXcom) const
{
    double total = 0.0;
    std::vector<double> elementPhoto(definition_.elements.size());
    for (std::size_t i = 0; i < definition_.elements.size(); ++i) {
        elementPhoto[i] = definition_.elements[i].massFraction * ElementPhoto(i, energy, fromXcom);
        total += elementPhoto[i];
    }
    std::vector<double> probabilities;
    for (const auto& s : shells) {
        std::size_t i = 0;
        while (definition_.elements[i].Z != s.Z)
            ++i;
        if (energy < s.jumpAbove || total <= 0.0) {
            probabilities.push_back(0.0);
            continue;
        }
        // Between the data's jump and the tabulated edge the shell is already
        // open in the totals; its share just above the edge stands for it there.
        const double e = std::min(std::max(energy, s.bindingEnergy * (1.0 + 1e-9)), s.partialLimit);
        const double partial = XrlOr(0.0, CS_Photo_Partial, s.Z, s.shell, e);
        const double fraction = partial > 0.0 ? partial / XrlCall(CS_Photo, s.Z, e) : 0.0;
        probabilities.push_back(fraction * elementPhoto[i] / total);
    }
    return probabilities;
}

} // namespace matgen
