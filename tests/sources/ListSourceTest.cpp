// The list source: which particle each emission replays, how the source keys move
// and filter the list, and the errors of bad lists (through tarvo-emit and tarvo).

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "common/TestUtil.h"

using testutil::WriteFile;

namespace {

std::string ListConfig(const std::string& keys) {
    return "[ApplicationTask]\nRandomSeed = 3\nNumberOfParticles = "
           "10\n[EndApplicationTask]\n[Objects]\n[Object]\nObjectType = Source\n" +
           keys + "[EndObject]\n[EndObjects]\n";
}

// One emitted particle as tarvo-emit prints it.
struct Emitted {
    double x, y, z, ux, uy, uz, energy, weight;
    int status;
};

std::vector<Emitted> Emit(const testutil::TempDir& dir, const std::string& keys, int count) {
    WriteFile(dir.File("list.ini"), ListConfig(keys));
    const testutil::RunResult r = testutil::Run(TARVO_EMIT, {dir.File("list.ini"), std::to_string(count)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::istringstream in(r.out);
    std::vector<Emitted> out;
    int source = 0;
    Emitted e{};
    while (in >> source >> e.x >> e.y >> e.z >> e.ux >> e.uy >> e.uz >> e.energy >> e.weight >> e.status)
        out.push_back(e);
    return out;
}

// Three particles: along +z, tilted by 0.3 rad towards +x, and along -z.
const std::string kList = "# type count x y z theta phi energy weight\n"
                          "\n"
                          "0 0 1 2 3 0 0 60 0.5\n"
                          "  ; a comment after blanks\n"
                          "1 2 -1 0 0 0.3 0 40 2\n"
                          "2 0 0 0 1 3.141592653589793 0 511 1\n";

} // namespace

TEST(ListSource, ReplaysTheListInTurnMovedAndFilteredByTheSourceKeys) {
    testutil::TempDir dir;
    WriteFile(dir.File("p.txt"), kList);
    // Identity placement: emission k replays particle k mod 3.
    std::vector<Emitted> e = Emit(dir, "ParticleList = p.txt\n", 4);
    ASSERT_EQ(e.size(), 4u);
    EXPECT_DOUBLE_EQ(e[0].x, 1);
    EXPECT_DOUBLE_EQ(e[0].z, 3);
    EXPECT_DOUBLE_EQ(e[0].uz, 1);
    EXPECT_DOUBLE_EQ(e[0].energy, 60);
    EXPECT_DOUBLE_EQ(e[0].weight, 0.5);
    EXPECT_NEAR(e[1].ux, std::sin(0.3), 1e-7);
    EXPECT_DOUBLE_EQ(e[1].weight, 2);
    EXPECT_NEAR(e[2].uz, -1, 1e-12);
    EXPECT_DOUBLE_EQ(e[3].x, e[0].x);
    for (const Emitted& p : e)
        EXPECT_EQ(p.status, 0);

    // Turned to look along -z (x and z flip), moved by the base centre in the turned
    // frame; a cone of 0.2 rad rejects the tilted particle and the backward one, and
    // "Energy" replaces every energy; the double-precision list holds the same.
    for (const char* single : {"true", "false"}) {
        e = Emit(dir,
                 std::string("ParticleList = p.txt\nDirection = (0, 0, -1)\nBaseCenter = (0, 0, 5)\n"
                             "ConeAngle = 0.2\nEnergy = 30\nSingle = ") +
                     single + "\n",
                 3);
        ASSERT_EQ(e.size(), 3u);
        EXPECT_NEAR(e[0].x, -1, 1e-12);
        EXPECT_NEAR(e[0].y, 2, 1e-12);
        EXPECT_NEAR(e[0].z, -8, 1e-12);
        EXPECT_NEAR(e[0].uz, -1, 1e-12);
        const int status[3] = {0, 1, 1};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(e[k].status, status[k]) << single << k;
            EXPECT_DOUBLE_EQ(e[k].energy, 30);
        }
    }
    // A window of +-0.1 rad horizontally keeps the particles along the axis only.
    e = Emit(dir, "ParticleList = p.txt\nWindowLeft = -0.1\nWindowRight = 0.1\n", 3);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].status, 0);
    EXPECT_EQ(e[1].status, 1);
}

// Every broken list stops the program at loading (exit 255) with a message that names
// the file and what is wrong with it.
TEST(ListSource, BadListsStopTheProgramNamingTheProblem) {
    testutil::TempDir dir;
    const std::string header = "Tarvo Binary PhaseSpaceData\nParticle Enum32 LE\nInteractionCount UInt32 LE\n"
                               "X Float32 LE\nY Float32 LE\nZ Float32 LE\nLatitude Float32 LE\n"
                               "Longitude Float32 LE\nEnergy Float32 LE\nWeight Float32 LE\n\n";
    std::string swapped = header;
    swapped.replace(swapped.find("X Float"), 14, "Y Float32 LE\nX");
    WriteFile(dir.File("columns.bin"), swapped);
    WriteFile(dir.File("truncated.bin"), header + std::string(40, '\0'));
    std::string seven(36, '\0');
    seven[0] = 7;
    WriteFile(dir.File("type7.bin"), header + seven);
    WriteFile(dir.File("magic.bin"), "Tarvo Binary PhaseSpace\n");
    WriteFile(dir.File("x.txt"), "0 0 0 0 0 0 0 60 1\n1 0 x\n");
    WriteFile(dir.File("empty.txt"), "# nothing\n\n");
    WriteFile(dir.File("p.txt"), kList);
    struct Case {
        std::string keys, message;
    };
    const Case cases[] = {
        {"ParticleList = none.bin\n", "TListSource: Unable to open file: " + dir.File("none.bin")},
        {"ParticleList = magic.bin\n",
         "TListSource: Unable to parse: Tarvo Binary PhaseSpace (line 1 of " + dir.File("magic.bin")},
        {"ParticleList = columns.bin\n",
         "TListSource: Incompatible format while reading " + dir.File("columns.bin")},
        {"ParticleList = truncated.bin\n", "TListSource: Error reading binary particle data: " +
                                               dir.File("truncated.bin") + " ends within record 2"},
        {"ParticleList = type7.bin\n",
         "TListSource: Invalid particle type 7 in record 1 of " + dir.File("type7.bin")},
        {"ParticleList = x.txt\n",
         "TListSource: Unable to parse: 1 0 x (line 2 of " + dir.File("x.txt") + ")"},
        {"ParticleList = empty.txt\n", "TListSource: " + dir.File("empty.txt") + " lists no particles"},
        {"ParticleList = p.txt\nWindowLeft = 0.5\nWindowRight = 1\n",
         "TListSource: Determined source window leaves no opening"},
    };
    // A failed configuration does not stop the next one: all in one run.
    std::vector<std::string> args = {"--interactive", "false"};
    for (const Case& c : cases) {
        args.push_back(dir.File("run" + std::to_string(args.size()) + ".ini"));
        WriteFile(args.back(), ListConfig(c.keys));
    }
    const testutil::RunResult r = testutil::RunTarvo(args);
    EXPECT_EQ(r.exitCode, 255);
    for (const Case& c : cases)
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.message << "\n" << r.err;
}
