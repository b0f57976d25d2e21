#include "MaterialDefinition.h"

#include "XraylibCall.h"

#include <xraylib.h>

#include <cctype>
#include <iomanip>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace matgen {

namespace {

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Material names become INI section names and file names, so they are kept
// to characters that are safe in both.
void CheckName(const std::string& name)
{
    if (name.empty())
        throw std::runtime_error("empty material name");
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.')
            throw std::runtime_error("material name '" + name + "' may contain only letters, digits, '_', '-' and '.'");
    }
    if (name == "void" || name == "Void" || name == "VOID")
        throw std::runtime_error("'void' is reserved for empty space");
}

void SetAtomFractionsFromMass(std::vector<ElementShare>& elements)
{
    double sum = 0.0;
    for (auto& e : elements) {
        e.atoms = e.massFraction / XrlCall(AtomicWeight, e.Z);
        sum += e.atoms;
    }
    for (auto& e : elements)
        e.atoms /= sum;
}

std::vector<ElementShare> FromFormula(const std::string& formula)
{
    xrl_error* error = nullptr;
    std::unique_ptr<compoundData, void (*)(compoundData*)> data(CompoundParser(formula.c_str(), &error),
                                                                FreeCompoundData);
    if (!data) {
        std::string text = error && error->message ? error->message : "cannot parse formula";
        if (error)
            xrl_error_free(error);
        throw std::runtime_error(text);
    }
    std::vector<ElementShare> elements;
    for (int i = 0; i < data->nElements; ++i)
        elements.push_back({data->Elements[i], data->massFractions[i], data->nAtoms[i]});
    return elements;
}

std::vector<ElementShare> FromNist(const std::string& compound, double& density)
{
    xrl_error* error = nullptr;
    std::unique_ptr<compoundDataNIST, void (*)(compoundDataNIST*)> data(
        GetCompoundDataNISTByName(compound.c_str(), &error), FreeCompoundDataNIST);
    if (!data) {
        if (error)
            xrl_error_free(error);
        throw std::runtime_error("unknown NIST compound '" + compound + "'");
    }
    std::vector<ElementShare> elements;
    for (int i = 0; i < data->nElements; ++i)
        elements.push_back({data->Elements[i], data->massFractions[i], 0.0});
    SetAtomFractionsFromMass(elements);
    if (density <= 0.0)
        density = data->density;
    return elements;
}

std::vector<ElementShare> FromMassFractions(const std::string& list)
{
    std::istringstream in(list);
    std::vector<ElementShare> elements;
    std::string symbol;
    double fraction = 0.0;
    double sum = 0.0;
    while (in >> symbol) {
        if (!(in >> fraction) || fraction <= 0.0)
            throw std::runtime_error("expected a positive mass fraction after " + symbol);
        xrl_error* error = nullptr;
        const int Z = SymbolToAtomicNumber(symbol.c_str(), &error);
        if (error) {
            xrl_error_free(error);
            throw std::runtime_error("unknown element symbol " + symbol);
        }
        elements.push_back({Z, fraction, 0.0});
        sum += fraction;
    }
    if (elements.empty())
        throw std::runtime_error("no elements given");
    for (auto& e : elements)
        e.massFraction /= sum;
    SetAtomFractionsFromMass(elements);
    return elements;
}

std::vector<std::string> SplitFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::string::size_type begin = 0;
    for (;;) {
        const auto end = line.find(';', begin);
        fields.push_back(Trim(line.substr(begin, end == std::string::npos ? std::string::npos : end - begin)));
        if (end == std::string::npos)
            return fields;
        begin = end + 1;
    }
}

} // namespace

double MaterialDefinition::MeanZ() const
{
    double atoms = 0.0, sum = 0.0;
    for (const auto& e : elements) {
        atoms += e.atoms;
        sum += e.atoms * e.Z;
    }
    return sum / atoms;
}

double MaterialDefinition::MeanA() const
{
    double atoms = 0.0, sum = 0.0;
    for (const auto& e : elements) {
        atoms += e.atoms;
        sum += e.atoms * XrlCall(AtomicWeight, e.Z);
    }
    return sum / atoms;
}

MaterialDefinition ParseDefinition(const std::string& line)
{
    try {
        const auto fields = SplitFields(line);
        if (fields.size() < 2 || fields.size() > 4)
            throw std::runtime_error("expected 'name; composition; density[; mean excitation energy]'");
        MaterialDefinition definition;
        definition.name = fields[0];
        CheckName(definition.name);
        definition.composition = fields[1];
        if (fields.size() >= 3 && !fields[2].empty()) {
            std::istringstream in(fields[2]);
            if (!(in >> definition.density) || definition.density <= 0.0)
                throw std::runtime_error("density must be a positive number (g/cm^3)");
        }
        if (fields.size() == 4 && !fields[3].empty()) {
            std::istringstream in(fields[3]);
            if (!(in >> definition.meanExcitation) || definition.meanExcitation <= 0.0)
                throw std::runtime_error("mean excitation energy must be a positive number (eV)");
        }
        const std::string& c = definition.composition;
        if (StartsWith(c, "nist:"))
            definition.elements = FromNist(Trim(c.substr(5)), definition.density);
        else if (StartsWith(c, "mass:"))
            definition.elements = FromMassFractions(c.substr(5));
        else
            definition.elements = FromFormula(c);
        if (definition.density <= 0.0)
            throw std::runtime_error("a density (g/cm^3) is required");
        return definition;
    } catch (const std::exception& e) {
        throw std::runtime_error("Material definition '" + Trim(line) + "': " + e.what());
    }
}

std::vector<MaterialDefinition> ReadDefinitions(std::istream& in)
{
    std::vector<MaterialDefinition> definitions;
    std::string line;
    while (std::getline(in, line)) {
        const std::string text = Trim(line.substr(0, line.find('#')));
        if (!text.empty())
            definitions.push_back(ParseDefinition(text));
    }
    return definitions;
}

std::string FormatDefinition(const MaterialDefinition& definition)
{
    std::ostringstream out;
    out << definition.name << "; " << definition.composition << "; " << std::setprecision(10)
        << definition.density;
    if (definition.meanExcitation > 0.0)
        out << "; " << definition.meanExcitation;
    return out.str();
}

} // namespace matgen
