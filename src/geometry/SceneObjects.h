#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <ostream>
#include <string>

namespace inifiles {
class TIniFileSection;
}

class IScene;
class TRandomNumbersGenerator;
struct TParticle;

namespace geometry {
struct Segment;
}

// Base of every scene object.
class TBasicGeometricalObject {
public:
    TBasicGeometricalObject() = default;
    virtual ~TBasicGeometricalObject() = default;
    // The copy a tracer thread works on; the scene sets the new owner.
    virtual std::unique_ptr<TBasicGeometricalObject> Clone() const = 0;

    // The scene's lists an object belongs to besides its C++ bases: the kinds are
    // defined above the geometry layer, so each says what it is.
    enum Kind : unsigned { KindPart = 1, KindSource = 2, KindDetector = 4, KindTraceDetector = 8 };
    virtual unsigned Kinds() const { return 0; }
    // Called when a scene (or a scene copy) has taken the object, e.g. for a part to
    // bind its material from the scene's materials list.
    virtual void AddedTo(IScene& /*scene*/) {}
    // The object's lines in the scene summary.
    virtual void PrintSummary(std::ostream& /*os*/) const {}
    // Called on each source once the scene has read all objects: sources complete
    // themselves here, first fitting their emission window to the scene with autoWindow.
    virtual void PrepareInScene(const IScene& /*scene*/, bool /*autoWindow*/) {}

    // Reads the optional "Name".
    void ReadName(const inifiles::TIniFileSection& section);

    std::string Name;

protected:
    TBasicGeometricalObject(const TBasicGeometricalObject&) = default;
    TBasicGeometricalObject& operator=(const TBasicGeometricalObject&) = default;
};

// "Object <Name>: " before the errors of an object's section, or without a name
// "Object section <n>: " with its 1-based position among the scene's objects.
std::string ObjectLabel(const inifiles::TIniFileSection& section, std::size_t position);

// An object that rays can enter (parts and detectors). Its ObjectID is its index in
// the scene's traceable list and the ObjectID of its facets.
class TTraceableObject : public TBasicGeometricalObject {
public:
    virtual double SegmentLength(const geometry::Segment& segment) const;

    // Mean free paths along the segment at that energy; objects of no thickness
    // (plane detectors) add none.
    virtual double GetOpticalThickness(const geometry::Segment& /*entry*/, double /*energy*/) const { return 0; }
    // What happens when the tracer hands a particle to the object: a photon whose
    // remaining optical depth runs out in the segment `entry` (parts), or that reaches
    // it (detectors); and an electron or positron entering it. The result is the event
    // code, -1 for nothing to report; the base stops an electron it cannot carry.
    virtual int Transport(TParticle& particle, const geometry::Segment& entry, double opticalDepth,
                          TRandomNumbersGenerator& rng, std::deque<std::unique_ptr<TParticle>>& secondaries);
    virtual int TransportElectron(TParticle& particle, TRandomNumbersGenerator& rng,
                                  std::deque<std::unique_ptr<TParticle>>& secondaries);
    // Detectors score crossings instead of attenuating; void objects let everything pass.
    virtual bool IsDetector() const { return false; }
    virtual bool IsVoid() const { return false; }
    // "   Name: ", "   Object ID: ", "   Priority: " lines.
    void PrintSummary(std::ostream& os) const override;

    // Reads "Name" and the optional "Priority".
    void ReadTraceableKeys(const inifiles::TIniFileSection& section);

    IScene* Scene = nullptr;
    std::uint32_t ObjectID = 0;
    std::int32_t Priority = 0;
};
