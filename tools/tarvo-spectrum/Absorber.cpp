#include "Absorber.h"

#include "MaterialDefinition.h"
#include "XraylibCall.h"

#include "app/SystemUtils.h"

#include <xraylib.h>

#include <fstream>
#include <stdexcept>

namespace spectrum {

namespace {

// Z of an element symbol, or 0 when `name` is none (xraylib matches the exact spelling).
int ElementNumber(const std::string& name) {
    xrl_error* error = nullptr;
    const int Z = SymbolToAtomicNumber(name.c_str(), &error);
    if (error) {
        xrl_error_free(error);
        return 0;
    }
    return Z;
}

} // namespace

Absorber Absorber::Resolve(const std::string& name, const std::string& definitionsPath,
                           const std::string& xcomDir) {
    Absorber absorber;
    if (const int Z = ElementNumber(name)) {
        absorber.name_ = name;
        absorber.density_ = matgen::XrlCall(ElementDensity, Z);
        absorber.elements_.push_back(
            {1.0, matgen::XcomTable::Load(xcomDir + "/" + matgen::XcomTable::FileName(Z, name))});
        return absorber;
    }
    std::ifstream in(definitionsPath);
    if (!in)
        throw std::runtime_error("unknown material " + name +
                                 " (not an element symbol, and the material definitions " + definitionsPath +
                                 " cannot be read)");
    for (const auto& definition : matgen::ReadDefinitions(in)) {
        if (ToLower(definition.name) != ToLower(name))
            continue;
        absorber.name_ = definition.name;
        absorber.density_ = definition.density;
        for (const auto& e : definition.elements) {
            char* symbol = AtomicNumberToSymbol(e.Z, nullptr);
            const std::string file = matgen::XcomTable::FileName(e.Z, symbol);
            xrlFree(symbol);
            absorber.elements_.push_back({e.massFraction, matgen::XcomTable::Load(xcomDir + "/" + file)});
        }
        return absorber;
    }
    throw std::runtime_error("unknown material " + name + " (neither an element symbol nor a material of " +
                             definitionsPath + ")");
}

double Absorber::MassAttenuation(double energy) const {
    double sum = 0.0;
    for (const auto& e : elements_) {
        const auto& t = e.table;
        sum += e.massFraction * (t.Photo(energy) + t.Compton(energy) + t.Rayleigh(energy) + t.Pair(energy));
    }
    return sum;
}

} // namespace spectrum
