#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "detectors/ParticleRegistrator.h"
#include "detectors/PhaseSpaceOutput.h"
#include "geometry/PhaseSpaceFile.h"

// The "PhaseSpace" registrator: writes every particle that reaches its plane (past
// the type filter and the collimator) to a phase-space file of T records: the hit
// point, direction, energy and the particle's own weight. Neither the collimation
// weight nor the detector model is applied, so that replaying the file is unbiased.
// Below `Threshold` Russian roulette with the tracer's generator keeps a particle
// with probability w / Threshold at weight Threshold.
//
// Every thread copy queues its records and writes them as one block (under the
// lock the copies share) when more than 10000 wait, at the end of each batch, at the
// end of the run and on destruction.
template <typename T> class PhaseSpaceWriter : public ParticleRegistrator {
public:
    using Record = geometry::PhaseSpaceRecord<T>;
    static constexpr std::size_t kFlushAbove = 10000;

    // Keys "Threshold", "Append", "Filename" (default "phsp.bin"; a bare name gets
    // resultPrefix + "_" in front, one with a directory is taken from the
    // configuration's directory, an empty one is the standard output).
    PhaseSpaceWriter(const inifiles::TIniFileSection& section, const std::string& resultPrefix);
    ~PhaseSpaceWriter() override;

    std::unique_ptr<ParticleRegistrator> Clone() const override;
    Stage Takes() const override { return Stage::Arriving; }
    // Without the tracer's generator only particles at or above the threshold can be
    // recorded; roulette needs the generator ("needs the tracer's generator").
    void RegisterParticle(const TParticle& particle, double weight) override;
    void RegisterParticleWith(const TParticle& particle, double weight,
                              TRandomNumbersGenerator& rng) override;
    // Writes another copy's queue (a copy hands its queue over empty: it writes itself).
    void Merge(const ParticleRegistrator& other) override;
    // The records are in the file already: nothing to write with the results.
    void WriteSpectrum(const std::string&, const ImageWriterOptions&) const override {}
    // Queued records are written, never dropped.
    void Reset() override { Flush(); }
    void EndOfRun() override { Flush(); }
    void HandOver(std::unique_ptr<ParticleRegistrator>& part) override;
    void BeginRun(bool fresh) override;
    void PrintSummary(std::ostream& os) const override;
    // The state is the file's length ("PhaseSpace <bytes> "), after writing the queue;
    // a restored run continues the file from there.
    void InternalWrite(std::ostream& stream) override;
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override;
    std::string IOClassName() const override {
        return sizeof(T) == 4 ? "PhaseSpaceWriter<float>" : "PhaseSpaceWriter<double>";
    }

    // Writes the queue as one block. Errors: "Too many particles queued", "Error writing ".
    void Flush();
    const std::string& FileName() const { return Output->Name(); }
    double GetThreshold() const { return Threshold; }

private:
    PhaseSpaceWriter(const PhaseSpaceWriter& other);
    void Queue(const TParticle& particle, double weight);

    std::shared_ptr<PhaseSpaceOutput> Output;
    double Threshold = 0;
    bool Append = false;
    std::vector<Record> Queued;
};

extern template class PhaseSpaceWriter<float>;
extern template class PhaseSpaceWriter<double>;

// Registers the "PhaseSpace" registrator type ("Single", default true, picks float
// records). The file must not be another writer's or a list source's input.
void RegisterPhaseSpaceType();
