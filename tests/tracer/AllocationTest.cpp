#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "tracer/TracerScene.h"

namespace {

std::atomic<std::uint64_t> g_allocations{0};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

// Every allocation of this test program is counted (not under AddressSanitizer,
// which owns the allocator).
#ifndef __SANITIZE_ADDRESS__
void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

// Also with electron transport, where Compton electrons walk through the parts.
class DemoHistories : public testing::TestWithParam<bool> {};

TEST_P(DemoHistories, AllocateNothingOnceWarm) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
#endif
    const std::string examples = std::string(TARVO_TEST_DATA) + "/../../examples";
    testutil::TempDir dir;
    std::string config = testutil::ReadFile(examples + "/phantom.ini");
    config = Replace(config, "../data/", examples + "/../data/");
    config = Replace(config, "= detectors/", "= " + examples + "/detectors/");
    config = Replace(config, "= spectra/", "= " + examples + "/spectra/");
    if (GetParam())
        config += "[Physics]\nElectronTransport = true\n[EndPhysics]\n";
    testutil::WriteFile(dir.File("phantom.ini"), config);
    QuietInterface ui;
    TTarvoApplication app(ui);
    ASSERT_TRUE(app.Initialize(dir.File("phantom.ini"), false));
    const IScene& scene = *app.Scene();
    AsDetector(scene.GetDetector(0)).BeginRun(0);
    auto prototype = CreateGenerator(PRNG_Type::MT19937_64);
    TPhotonTracer tracer(scene, MakeTracerSettings(app.Parameters()), *prototype);
    tracer.StartBatch(0, 0, 30000, 5);
    tracer.TraceSome(20000);
    const std::uint64_t before = g_allocations.load();
    ASSERT_GT(before, 0u); // the counting operator is the one in use
    tracer.TraceSome(10000);
    EXPECT_EQ(g_allocations.load() - before, 0u);
    EXPECT_EQ(tracer.Counters().Traced, 30000u);
    tracer.EndBatch();
    tracer.FlushDetectors();
    AsDetector(scene.GetDetector(0)).Flush();
}

INSTANTIATE_TEST_SUITE_P(PhotonTracer, DemoHistories, testing::Bool());
