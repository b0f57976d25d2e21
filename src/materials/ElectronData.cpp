#include "materials/ElectronData.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

namespace materials {

namespace {

constexpr double kElectronMass = 510.9991697550785;  // keV
// 2 pi N_A r_e^2 m c^2 (MeV cm^2/mol).
constexpr double kBetheConstant = 0.1535375;

[[noreturn]] void Fail(const std::string& text) { throw std::runtime_error("ElectronData: " + text); }

// Next line that is neither blank nor a comment.
bool NextDataLine(std::istream& in, std::string& line)
{
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != '#' && line.find_first_not_of(" \t\r") != std::string::npos)
            return true;
    }
    return false;
}

std::istringstream Keyed(std::istream& in, const char* key)
{
    std::string line;
    if (!NextDataLine(in, line))
        Fail(std::string("missing ") + key);
    std::istringstream fields(line);
    std::string word;
    fields >> word;
    if (word != key)
        Fail(std::string("expected ") + key + ", found '" + line + "'");
    return fields;
}

std::size_t ReadCount(std::istream& in, const char* key)
{
    auto fields = Keyed(in, key);
    long count = 0;
    if (!(fields >> count) || count < 2 || count > 100000)
        Fail(std::string("bad count for ") + key);
    return static_cast<std::size_t>(count);
}

} // namespace

bool TElectronData::LoadDataFromStream(std::istream& in)
{
    std::string line;
    if (!std::getline(in, line) || line.rfind("#TarvoElectron", 0) != 0)
        Fail("not an electron data file (no #TarvoElectron header)");
    if (!(Keyed(in, "ZoverA") >> zOverA_) || !(zOverA_ > 0.0))
        Fail("bad ZoverA");
    if (!(Keyed(in, "MeanExcitationEnergy") >> meanI_) || !(meanI_ > 0.0))
        Fail("bad MeanExcitationEnergy");
    if (!(Keyed(in, "DensityEffect") >> densityC_ >> densityX0_ >> densityX1_ >> densityA_ >> densityM_))
        Fail("bad DensityEffect");
    const std::size_t count = ReadCount(in, "Energies");
    for (auto* column : {&energies_, &collision_, &positronCollision_, &radiative_, &range_, &transport1_, &transport2_})
        column->assign(count, 0.0);
    for (std::size_t i = 0; i < count; ++i) {
        if (!NextDataLine(in, line))
            Fail("expected " + std::to_string(count) + " energies, found " + std::to_string(i));
        std::istringstream fields(line);
        fields >> energies_[i] >> collision_[i] >> positronCollision_[i] >> radiative_[i] >> range_[i] >>
            transport1_[i] >> transport2_[i];
        if (!fields || !(energies_[i] > 0.0) || (i > 0 && !(energies_[i] > energies_[i - 1])) ||
            !(collision_[i] > 0.0) || !(radiative_[i] > 0.0) || !(range_[i] > 0.0) || !(transport1_[i] > 0.0))
            Fail("bad values in line '" + line + "'");
    }
    logEnergies_.resize(count);
    std::transform(energies_.begin(), energies_.end(), logEnergies_.begin(), [](double e) { return std::log(e); });
    loaded_ = true;
    return true;
}

void TElectronData::LoadBremsstrahlung(std::istream& in)
{
    if (!loaded_)
        Fail("bremsstrahlung data need the coefficients first");
    std::string line;
    if (!std::getline(in, line) || line.rfind("#TarvoBrems", 0) != 0)
        Fail("not a bremsstrahlung file (no #TarvoBrems header)");
    auto fields = Keyed(in, "Fractions");
    long n = 0;
    fields >> n;
    if (n < 2 || n > 1000)
        Fail("bad count for Fractions");
    std::vector<double> fractions(static_cast<std::size_t>(n));
    for (std::size_t j = 0; j < fractions.size(); ++j) {
        const double previous = j ? fractions[j - 1] : 0.0;
        if (!(fields >> fractions[j]) || !(fractions[j] > previous) || !(fractions[j] < 1.0))
            Fail("bad fraction list");
    }
    if (ReadCount(in, "Energies") != energies_.size())
        Fail("bremsstrahlung energies differ from the coefficients'");
    std::vector<double> values(energies_.size() * fractions.size());
    for (std::size_t i = 0; i < energies_.size(); ++i) {
        if (!NextDataLine(in, line))
            Fail("missing bremsstrahlung line " + std::to_string(i + 1));
        std::istringstream row(line);
        double T = 0.0;
        row >> T;
        if (!row || std::fabs(T - energies_[i]) > 1e-6 * energies_[i])
            Fail("bremsstrahlung energy " + std::to_string(T) + " is not on the coefficients' grid");
        for (std::size_t j = 0; j < fractions.size(); ++j) {
            if (!(row >> values[i * fractions.size() + j]) || !(values[i * fractions.size() + j] >= 0.0))
                Fail("bad values in bremsstrahlung line " + std::to_string(i + 1));
        }
    }
    fractions_ = std::move(fractions);
    brems_ = std::move(values);
}

std::size_t TElectronData::Locate(double T, double& fraction) const
{
    const double x = std::log(std::clamp(T, energies_.front(), energies_.back()));
    auto it = std::upper_bound(logEnergies_.begin(), logEnergies_.end(), x);
    std::size_t i = std::min<std::size_t>(std::max<std::ptrdiff_t>(it - logEnergies_.begin(), 1), energies_.size() - 1);
    fraction = (x - logEnergies_[i - 1]) / (logEnergies_[i] - logEnergies_[i - 1]);
    return i - 1;
}

double TElectronData::LogLog(const std::vector<double>& values, double T) const
{
    double f = 0.0;
    const std::size_t i = Locate(T, f);
    return std::exp(std::log(values[i]) * (1.0 - f) + std::log(values[i + 1]) * f);
}

double TElectronData::CollisionStoppingPower(double T, bool positron) const
{
    return LogLog(positron ? positronCollision_ : collision_, T);
}

double TElectronData::RadiativeStoppingPower(double T) const { return LogLog(radiative_, T); }

double TElectronData::CsdaRange(double T) const
{
    // Below the table the range grows like T^1.8 (as the generator assumes).
    if (T < energies_.front())
        return range_.front() * std::pow(T / energies_.front(), 1.8);
    return LogLog(range_, T);
}

double TElectronData::EnergyAtRange(double range) const
{
    if (range <= range_.front())
        return energies_.front() * std::pow(std::max(range, 0.0) / range_.front(), 1.0 / 1.8);
    auto it = std::upper_bound(range_.begin(), range_.end(), range);
    const std::size_t i = std::min<std::size_t>(it - range_.begin(), range_.size() - 1);
    const double f = std::log(range / range_[i - 1]) / std::log(range_[i] / range_[i - 1]);
    return std::exp(logEnergies_[i - 1] + f * (logEnergies_[i] - logEnergies_[i - 1]));
}

double TElectronData::TransportCrossSection(double T, int l) const
{
    return LogLog(l == 1 ? transport1_ : transport2_, T);
}

double TElectronData::DensityDelta(double X) const
{
    if (X < densityX0_)
        return 0.0;
    const double linear = 4.605170185988091 * X - densityC_;
    return X < densityX1_ ? linear + densityA_ * std::pow(densityX1_ - X, densityM_) : linear;
}

double TElectronData::RestrictedCollisionStoppingPower(double T, double cut, bool positron) const
{
    // Berger and Seltzer's restricted stopping power (ICRU Report 37, eqs. 2.7-2.10).
    const double tau = T / kElectronMass;
    const double gamma = tau + 1.0;
    const double bg2 = tau * (tau + 2.0);
    const double beta2 = bg2 / (gamma * gamma);
    const double ratio = meanI_ * 1e-3 / kElectronMass;
    const double d = std::min(cut / kElectronMass, positron ? tau : 0.5 * tau);
    double L;
    if (positron) {
        const double d2 = 0.5 * d * d, d3 = d2 * d / 1.5, d4 = d3 * d * 0.75, y = 1.0 / (1.0 + gamma);
        L = std::log(2.0 * (tau + 2.0) / (ratio * ratio)) + std::log(tau * d) -
            beta2 * (tau + 2.0 * d - y * (3.0 * d2 + y * (d - d3 + y * (d2 - tau * d3 + d4)))) / tau;
    } else {
        L = std::log(2.0 * (tau + 2.0) / (ratio * ratio)) - 1.0 - beta2 + std::log((tau - d) * d) + tau / (tau - d) +
            (0.5 * d * d + (2.0 * tau + 1.0) * std::log(1.0 - d / tau)) / (gamma * gamma);
    }
    L -= DensityDelta(0.5 * std::log10(bg2));
    return std::max(0.0, kBetheConstant * zOverA_ / beta2 * L);
}

double TElectronData::ScaledBremsstrahlung(double T, double kappa) const
{
    double f = 0.0;
    const std::size_t i = Locate(T, f);
    const std::size_t n = fractions_.size();
    auto at = [&](std::size_t row) {
        if (kappa <= fractions_.front())
            return brems_[row * n];
        auto it = std::upper_bound(fractions_.begin(), fractions_.end(), kappa);
        const std::size_t j = std::min<std::size_t>(it - fractions_.begin(), n - 1);
        const double g = std::min(1.0, (kappa - fractions_[j - 1]) / (fractions_[j] - fractions_[j - 1]));
        return brems_[row * n + j - 1] * (1.0 - g) + brems_[row * n + j] * g;
    };
    return at(i) * (1.0 - f) + at(i + 1) * f;
}

double TElectronData::ScaledBremsstrahlungBound(double T, double kappa) const
{
    double f = 0.0;
    const std::size_t i = Locate(T, f);
    const std::size_t n = fractions_.size();
    auto first = std::upper_bound(fractions_.begin(), fractions_.end(), kappa) - fractions_.begin();
    double bound = 0.0;
    for (std::size_t j = first > 0 ? first - 1 : 0; j < n; ++j)
        bound = std::max(bound, brems_[i * n + j] * (1.0 - f) + brems_[(i + 1) * n + j] * f);
    return bound;
}

namespace {

// Integral of chi over [a, b] (weight 1) or of chi/kappa (weight 1/kappa), chi
// linear between the table's fractions and constant below the first.
template <class Chi>
double IntegrateFractions(const std::vector<double>& fractions, const Chi& chi, double a, double b, bool overKappa)
{
    double sum = 0.0;
    double lo = a;
    auto piece = [&](double x0, double x1) {
        if (x1 <= x0)
            return;
        const double y0 = chi(x0), y1 = chi(x1);
        if (!overKappa) {
            sum += 0.5 * (y0 + y1) * (x1 - x0);
        } else {
            const double slope = (y1 - y0) / (x1 - x0);
            sum += (y0 - slope * x0) * std::log(x1 / x0) + slope * (x1 - x0);
        }
    };
    for (double f : fractions) {
        if (f <= lo)
            continue;
        if (f >= b)
            break;
        piece(lo, f);
        lo = f;
    }
    piece(lo, b);
    return sum;
}

} // namespace

double TElectronData::RestrictedRadiativeStoppingPower(double T, double cut) const
{
    const double kc = std::min(1.0, cut / T);
    // Below the first fraction chi is constant, so that part is exact.
    auto chi = [&](double k) { return ScaledBremsstrahlung(T, k); };
    return T * 1e-3 * IntegrateFractions(fractions_, chi, 0.0, std::min(kc, fractions_.back()), false);
}

double TElectronData::HardBremsstrahlungCrossSection(double T, double cut) const
{
    const double kc = cut / T;
    if (kc >= fractions_.back())
        return 0.0;
    auto chi = [&](double k) { return ScaledBremsstrahlung(T, k); };
    return IntegrateFractions(fractions_, chi, kc, fractions_.back(), true);
}

} // namespace materials
