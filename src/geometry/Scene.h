#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <omp.h>

#include "datafiles/ObjectIO.h"
#include "geometry/BVHManager.h"
#include "geometry/IntersectionList.h"
#include "geometry/Messages.h"
#include "geometry/SceneObjects.h"

namespace inifiles {
class TIniFileSection;
class TIniFileStructure;
}

namespace materials {
class TMaterialsList;
}

class DetectorModel;

// What the rest of the program sees of the scene: its objects, the hierarchy over
// their facets, and the segments of one ray. Every tracer thread works on its own
// copy (Clone), which shares the hierarchy but has its own objects and arrays.
// Its saved state is one entry per detector, then one per trace detector.
class IScene : public TIO_Object {
public:
    ~IScene() override;
    void InternalWrite(std::ostream& stream) override;
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override;
    IScene(const IScene&) = delete;
    IScene& operator=(const IScene&) = delete;

    virtual std::unique_ptr<IScene> Clone() const = 0;
    // Reads the "Objects" section; false when a factory yields no object.
    virtual bool ReadScene(const inifiles::TIniFileStructure& ini) = 0;
    virtual std::size_t ObjectCount() const = 0;
    virtual std::size_t TraceableCount() const = 0;
    virtual std::size_t PartCount() const = 0;
    virtual std::size_t DetectorCount() const = 0;
    virtual std::size_t TraceDetectorCount() const = 0;
    virtual std::size_t SourceCount() const = 0;
    virtual std::size_t VertexCount() const = 0;
    virtual geometry::TCoord<double> GetVertex(std::size_t index) const = 0;
    // The boxes that objects which are their own intersection manager report.
    virtual std::vector<geometry::TBoundingBox<double>> GetObjectBoxes() const = 0;
    virtual TBasicGeometricalObject& GetObject(std::size_t index) const = 0;
    virtual TTraceableObject& GetTraceable(std::uint32_t objectID) const = 0;
    virtual TTraceableObject& GetPart(std::size_t index) const = 0;
    // The layers that define sources and detectors cast these to their own classes.
    virtual TBasicGeometricalObject& GetSource(std::size_t index) const = 0;
    virtual TBasicGeometricalObject& GetDetector(std::size_t index) const = 0;
    virtual TBasicGeometricalObject& GetTraceDetector(std::size_t index) const = 0;
    // Deletes every object and empties the geometry manager.
    virtual void Clear() = 0;
    virtual void PrintSummary(std::ostream& os) const = 0;
    virtual geometry::TBoundingBox<double> GetObjectBounds(std::uint32_t objectID) const = 0;
    virtual geometry::IntersectionManager& GetIntersectionManager() const = 0;
    // Fills the segments of this copy for the ray; true if there is at least one.
    virtual bool ComputeSegments(const geometry::Ray& ray) = 0;
    // Reads a part's mesh into the hierarchy under the next traceable ID, checks that
    // it is closed and writes the requested dumps; returns that ID.
    virtual std::uint32_t LoadPartGeometry(const inifiles::TIniFileSection& section) = 0;

    const std::vector<geometry::Segment>& GetSegments() const { return Intersections.GetSegments(); }
    bool IsOverlapWarningArmed() const { return Intersections.IsOverlapWarningArmed(); }
    const geometry::MessageSink& GetMessageSink() const { return Messages; }

    // Serialises what objects of different scene copies must not do at once.
    void Lock() { omp_set_lock(&ObjectLock); }
    void Unlock() { omp_unset_lock(&ObjectLock); }

    // The detector model of that name, listed on first use (the empty name is the
    // ideal model); the models are loaded once the scene is read. The detector layer
    // defines the model and this lookup.
    std::shared_ptr<DetectorModel> GetDetectorModel(const std::string& name);
    // Shared by every copy of the scene, in order of first use.
    std::vector<std::shared_ptr<DetectorModel>> DetectorModels;

    // Parts added while a list is set are bound to their materials (created when new);
    // not owned.
    materials::TMaterialsList* Materials = nullptr;
    bool CheckOverlap = true;
    bool LocalManager = false;
    // The electron-transport switch of the run: the default of every part.
    bool ElectronTransport = false;
    // Result directory and configuration name: objects name their own files after it.
    std::string ResultPrefix;
    // Whether loading writes the mesh dumps parts ask for.
    bool WritesFiles = true;

    // Records that an object reads or writes a file (by absolute path): one file may
    // feed several readers, but a file that one object writes belongs to it alone.
    // Errors: "<path> is both <use> and <earlier use>".
    void ClaimFile(const std::string& path, const std::string& use, bool writes);

protected:
    explicit IScene(geometry::MessageSink messages);

    geometry::IntersectionList Intersections;
    geometry::MessageSink Messages;

private:
    struct FileClaim {
        std::string Path, Use;
        bool Writes;
    };
    std::vector<FileClaim> ClaimedFiles;
    omp_lock_t ObjectLock;
};

template <typename T>
class TScene : public IScene {
public:
    explicit TScene(std::shared_ptr<geometry::BVHManager<T>> manager,
                    geometry::MessageSink messages = geometry::DefaultMessageSink());
    ~TScene() override;

    std::unique_ptr<IScene> Clone() const override;
    std::string IOClassName() const override;
    bool ReadScene(const inifiles::TIniFileStructure& ini) override;
    std::size_t ObjectCount() const override { return Objects.size(); }
    std::size_t TraceableCount() const override { return Traceable.size(); }
    std::size_t PartCount() const override { return Parts.size(); }
    std::size_t DetectorCount() const override { return Detectors.size(); }
    std::size_t TraceDetectorCount() const override { return TraceDetectors.size(); }
    std::size_t SourceCount() const override { return Sources.size(); }
    std::size_t VertexCount() const override { return Manager->GetVertices().size(); }
    geometry::TCoord<double> GetVertex(std::size_t index) const override;
    std::vector<geometry::TBoundingBox<double>> GetObjectBoxes() const override;
    TBasicGeometricalObject& GetObject(std::size_t index) const override { return *Objects.at(index); }
    TTraceableObject& GetTraceable(std::uint32_t objectID) const override { return *Traceable.at(objectID); }
    TTraceableObject& GetPart(std::size_t index) const override { return *Parts.at(index); }
    TBasicGeometricalObject& GetSource(std::size_t index) const override { return *Sources.at(index); }
    TBasicGeometricalObject& GetDetector(std::size_t index) const override { return *Detectors.at(index); }
    TBasicGeometricalObject& GetTraceDetector(std::size_t index) const override {
        return *TraceDetectors.at(index);
    }
    void Clear() override;
    void PrintSummary(std::ostream& os) const override;
    geometry::TBoundingBox<double> GetObjectBounds(std::uint32_t objectID) const override;
    geometry::IntersectionManager& GetIntersectionManager() const override { return *Manager; }
    bool ComputeSegments(const geometry::Ray& ray) override;
    std::uint32_t LoadPartGeometry(const inifiles::TIniFileSection& section) override;

    // Takes ownership and files the object in every list its kind belongs to.
    void AddObject(std::unique_ptr<TBasicGeometricalObject> object);
    geometry::BVHManager<T>& GetManager() const { return *Manager; }

private:
    void PrintPartSummary(std::ostream& os, std::size_t index) const;
    void PrintObjectSummaries(std::ostream& os, const char* heading, const char* label,
                              const std::vector<TBasicGeometricalObject*>& objects) const;
    void WriteDumps(const inifiles::TIniFileSection& section, std::uint32_t id,
                    const std::vector<geometry::Facet>& facets) const;

    std::vector<std::unique_ptr<TBasicGeometricalObject>> Objects;
    std::vector<TTraceableObject*> Traceable;
    std::vector<TBasicGeometricalObject*> Sources;
    std::vector<TBasicGeometricalObject*> Detectors;
    std::vector<TBasicGeometricalObject*> TraceDetectors;
    std::vector<TTraceableObject*> Parts;
    std::shared_ptr<geometry::BVHManager<T>> Manager;
    std::vector<const geometry::IntersectionManager*> ObjectManagers;
};

extern template class TScene<float>;
extern template class TScene<double>;
