#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "detectors/TraceDetector.h"

// One accepted event as the dump file holds it: the particle's history and sequence
// numbers, type, event code, interaction count after the event, energy and weight
// before and after, and the positions before and after. The layout is the file's:
// 72 bytes with floats, 112 with doubles (padding included, written as zeros).
template <typename T> struct TraceSegment {
    std::uint64_t ID;
    std::uint64_t SubID;
    std::uint32_t Particle;
    std::int32_t Interaction;
    std::uint32_t InteractionCount;
    T OldEnergy, Energy, OldWeight, Weight;
    T Start[3];
    T End[3];
};
static_assert(sizeof(TraceSegment<float>) == 72, "float trace segments are 72 bytes");
static_assert(sizeof(TraceSegment<double>) == 112, "double trace segments are 112 bytes");

// Writes every accepted event as a trace segment: binary (a text header, then the
// segments as they are in memory) or text (a "#" line naming the 15 columns, then one
// tab-separated line per segment, numbers that read back exactly). Each tracer's copy
// queues its segments and writes them as one block, under a lock all copies share,
// when more than QueueLimit wait, when it is flushed and when it is destroyed.
//
// The file opens when a fresh run starts (StartRun) and stays open through
// continuations. A bare Filename (no folder) is put after the run's result prefix +
// "_TraceDetector" + index + "_"; a missing or empty one is "traces.bin" ("traces.txt"
// when not Binary) there. With Append an existing file of the same variant is
// continued; a missing or empty one gets the header; another variant is an error.
template <typename T> class TraceDump : public TBasicGeometricalObject, public TTraceDetector {
public:
    static constexpr std::size_t QueueLimit = 10000;

    static std::unique_ptr<TraceDump> Create(const inifiles::TIniFileSection& section);
    ~TraceDump() override;

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    unsigned Kinds() const override { return KindTraceDetector; }
    void PrintSummary(std::ostream& os) const override;

    void StartRun(const std::string& baseName) override;
    void Flush() override;

    // The header a file of this variant starts with.
    static std::string Header(bool binary);
    // The name the dump writes to for that result base name; UseName makes it the
    // dump's file before a run starts it (a restored run continues that file).
    std::string FileName(const std::string& baseName) const;
    void UseName(const std::string& baseName) { Output->Name = FileName(baseName); }

    // The state is the file's length ("TraceDump <bytes> ") once every queued segment
    // is written; a restored run cuts the file back to it and goes on writing there.
    std::string IOClassName() const override { return "TraceDump"; }
    void InternalWrite(std::ostream& stream) override;
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override;

    bool Binary = true;
    bool Append = false;

protected:
    void Score(const TParticle& before, const TParticle& after, int code) override;

private:
    struct SharedFile {
        std::mutex Lock;
        std::FILE* File = nullptr;
        std::string Name;
        ~SharedFile();
    };

    TraceDump();
    TraceDump(const TraceDump& other);
    void WriteQueue();

    std::string Filename;   // as given, resolved against the configuration's folder when it has one
    bool HasFolder = false; // the name is taken as it is
    std::shared_ptr<SharedFile> Output;
    std::vector<TraceSegment<T>> Queue;
    std::string Text; // a text block being formatted
};

extern template class TraceDump<float>;
extern template class TraceDump<double>;
