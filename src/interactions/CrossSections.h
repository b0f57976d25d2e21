#pragma once

#include <memory>

class TRandomNumbersGenerator;

namespace materials {
class TMaterial;
}

namespace interactions {

// Samples the polar angle of one scattering interaction. Cross sections are
// shared read-only by all tracer threads.
class TBasicPhotonCrossSection {
public:
    virtual ~TBasicPhotonCrossSection() = default;
    double GetNormalization(const materials::TMaterial* material, double energy) const {
        return GetIntegral(material, energy);
    }
    virtual double GetScatteredEnergy(double /*cosTheta*/, double energy) const { return energy; }
    // cos(theta) for the uniform number u.
    virtual double GetCosTheta(const materials::TMaterial* material, double u, double energy) const = 0;
    // cos(theta) drawn with the caller's generator, as transport samples it:
    // GetCosTheta of one uniform number, unless a sampler needs more of them.
    virtual double SampleCosTheta(const materials::TMaterial* material, double energy,
                                  TRandomNumbersGenerator& rng) const;
    // Integral of the angular density over cos(theta) in [-1, 1].
    virtual double GetIntegral(const materials::TMaterial* /*material*/, double /*energy*/) const {
        return 1.0;
    }
};

class TDifferentialScatteringCrossSection : public TBasicPhotonCrossSection {};

class TBasicComptonCrossSection : public TDifferentialScatteringCrossSection {
public:
    // E' = E / (1 + (E/m)(1 - cos theta)).
    double GetScatteredEnergy(double cosTheta, double energy) const override;
};

class TBasicRayleighCrossSection : public TDifferentialScatteringCrossSection {};

// Inverse distribution function by trapezoidal integration and bisection at
// run time; `precision` sets both the integration step and the tolerance.
class TAnalyticalScatteringCrossSection {
public:
    // Throws "Invalid IntegrationPrecision: " for a precision that is not positive.
    explicit TAnalyticalScatteringCrossSection(double precision);
    virtual ~TAnalyticalScatteringCrossSection() = default;

    // Unnormalised angular density in mu = cos(theta).
    virtual double GetDifferential(const materials::TMaterial* material, double energy, double mu) const = 0;
    // Integral of the density from -1 to muMax.
    virtual double Integrate(const materials::TMaterial* material, double energy, double muMax) const;
    virtual double IntegrateAll(const materials::TMaterial* material, double energy) const {
        return Integrate(material, energy, 1.0);
    }
    virtual double SolveCosTheta(const materials::TMaterial* material, double energy, double u) const;

    double Precision() const { return precision_; }

protected:
    double precision_;
};

// An analytical cross section of the Compton or Rayleigh family: sampling by
// solving the integral equation of its density.
template <class Family>
class TAnalyticalCrossSection : public Family, public TAnalyticalScatteringCrossSection {
public:
    explicit TAnalyticalCrossSection(double precision) : TAnalyticalScatteringCrossSection(precision) {}
    double GetCosTheta(const materials::TMaterial* material, double u, double energy) const override {
        return SolveCosTheta(material, energy, u);
    }
    double GetIntegral(const materials::TMaterial* material, double energy) const override {
        return IntegrateAll(material, energy);
    }
};

// Klein-Nishina. Transport samples it exactly (Butcher and Messel's
// composition and rejection); GetCosTheta of one number solves the integral.
class TAnalyticalSimpleComptonCrossSection : public TAnalyticalCrossSection<TBasicComptonCrossSection> {
public:
    using TAnalyticalCrossSection::TAnalyticalCrossSection;
    double GetDifferential(const materials::TMaterial* material, double energy, double mu) const override;
    double SampleCosTheta(const materials::TMaterial* material, double energy,
                          TRandomNumbersGenerator& rng) const override;
};

// Thomson: 1 + mu^2, whose integral is 8/3 and whose inverse is a cubic's root.
class TAnalyticalSimpleRayleighCrossSection : public TAnalyticalCrossSection<TBasicRayleighCrossSection> {
public:
    using TAnalyticalCrossSection::TAnalyticalCrossSection;
    double GetDifferential(const materials::TMaterial* material, double energy, double mu) const override;
    double IntegrateAll(const materials::TMaterial*, double) const override { return 8.0 / 3.0; }
    double SolveCosTheta(const materials::TMaterial* material, double energy, double u) const override;
};

// Klein-Nishina times the material's scattering function S(x) at and below
// the full-physics threshold. Transport samples Klein-Nishina exactly and
// accepts with S(x) / max S.
class TAnalyticalTotalComptonCrossSection : public TAnalyticalCrossSection<TBasicComptonCrossSection> {
public:
    using TAnalyticalCrossSection::TAnalyticalCrossSection;
    double GetDifferential(const materials::TMaterial* material, double energy, double mu) const override;
    double SampleCosTheta(const materials::TMaterial* material, double energy,
                          TRandomNumbersGenerator& rng) const override;
};

// Thomson times the squared atomic form factor F(x) at and below the
// full-physics threshold, plain Thomson above. Integral and inverse are exact,
// from the material's form-factor integral (TFormFactorIntegral).
class TAnalyticalTotalRayleighCrossSection : public TAnalyticalCrossSection<TBasicRayleighCrossSection> {
public:
    using TAnalyticalCrossSection::TAnalyticalCrossSection;
    double GetDifferential(const materials::TMaterial* material, double energy, double mu) const override;
    double IntegrateAll(const materials::TMaterial* material, double energy) const override;
    double SolveCosTheta(const materials::TMaterial* material, double energy, double u) const override;
};

// The tabulated classes look cos(theta) up in the angle tables of the
// materials: constant time per sample.
class TTabulatedSimpleComptonCrossSection : public TBasicComptonCrossSection {
public:
    double GetCosTheta(const materials::TMaterial* material, double u, double energy) const override;
};

class TTabulatedTotalComptonCrossSection : public TBasicComptonCrossSection {
public:
    double GetCosTheta(const materials::TMaterial* material, double u, double energy) const override;
};

class TTabulatedSimpleRayleighCrossSection : public TBasicRayleighCrossSection {
public:
    double GetCosTheta(const materials::TMaterial* material, double u, double energy) const override;
};

class TTabulatedTotalRayleighCrossSection : public TBasicRayleighCrossSection {
public:
    double GetCosTheta(const materials::TMaterial* material, double u, double energy) const override;
};

enum TScatteringKind : int {
    ScatteringSimple = 0, // free electron: Klein-Nishina, Thomson
    ScatteringTotal = 1,  // with S(x) resp. F(x)
};

// Throw "Couldn't create cross section" for a kind that is neither.
std::unique_ptr<TBasicComptonCrossSection> CreateComptonCrossSection(int kind, bool tabulated,
                                                                     double precision);
std::unique_ptr<TBasicRayleighCrossSection> CreateRayleighCrossSection(int kind, bool tabulated,
                                                                       double precision);

} // namespace interactions
