// The phase-space writer's file through a run's life: loading leaves it alone, a
// fresh run truncates it, a continued run keeps it, and a run restored from a saved
// state continues it from the length it had when the state was saved.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "common/TestUtil.h"
#include "detectors/PhaseSpaceWriter.h"
#include "inifiles/IniFile.h"
#include "interactions/Particle.h"

namespace {

constexpr std::size_t kHeader = 191; // magic, nine float column lines, empty line

struct Writer {
    explicit Writer(const std::string& file) {
        std::istringstream in("[Registrator]\nFilename = " + file + "\n[EndRegistrator]\n");
        ini.ReadFrom(in, "test");
        writer = std::make_unique<PhaseSpaceWriter<float>>(ini.FindSection("Registrator"), "");
    }
    void Record(int count) {
        TParticle p;
        p.Energy = 60;
        for (int i = 0; i < count; ++i)
            writer->RegisterParticle(p, 1.0);
        writer->EndOfRun();
    }
    inifiles::TIniFileStructure ini;
    std::unique_ptr<PhaseSpaceWriter<float>> writer;
};

std::size_t Size(const std::string& file) {
    return testutil::ReadFile(file).size();
}

} // namespace

TEST(PhaseSpaceWriter, FreshRunsTruncateContinuationsKeepAndRestoresCutBack) {
    testutil::TempDir dir;
    const std::string file = dir.File("ps.bin");
    std::string saved;
    {
        Writer w(file);
        w.writer->BeginRun(true);
        w.Record(3);
        std::ostringstream state;
        w.writer->InternalWrite(state);
        saved = state.str();
        w.Record(2);
        w.writer->BeginRun(false);
        w.Record(1);
    }
    EXPECT_EQ(saved, "PhaseSpace " + std::to_string(kHeader + 3 * 36) + " ");
    EXPECT_EQ(Size(file), kHeader + 6 * 36);
    {
        // Loading a scene again leaves the file; the restored run cuts it back.
        Writer w(file);
        EXPECT_EQ(Size(file), kHeader + 6 * 36);
        std::istringstream state(saved);
        w.writer->InternalRead(state, saved.size());
        w.writer->BeginRun(false);
        w.Record(1);
    }
    EXPECT_EQ(Size(file), kHeader + 4 * 36);
    {
        Writer w(file);
        w.writer->BeginRun(true);
    }
    EXPECT_EQ(Size(file), kHeader);
    // A saved length beyond the file is refused, not padded.
    Writer w(file);
    std::istringstream state(saved);
    w.writer->InternalRead(state, saved.size());
    EXPECT_THROW(w.writer->BeginRun(false), std::runtime_error);
}
