// libFuzzer entry point for the StL, OFF, PLY and TRI readers. Not part of the test
// build; built and run by hand:
//   S=src/geometry; clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/geometry/fuzz/mesh_readers_fuzzer.cc $S/ByteSource.cpp $S/FacetManager.cpp \
//     $S/IntersectionManager.cpp src/datafiles/Formatting.cpp $S/Messages.cpp $S/AffineTransform.cpp \
//     $S/Angles.cpp $S/StLReader.cpp $S/OFFReader.cpp $S/PLYReader.cpp $S/TableReaders.cpp -o fuzz_mesh
//   ./fuzz_mesh -max_total_time=300 corpus/
// The first byte picks the reader; every input must end in a result or a std::exception.
// Inputs that once crashed go to tests/data/geometry/fuzz/, which MeshReadersTest replays.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

#include "geometry/MeshReaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    geometry::FacetManager<float> store([](const std::string&, bool) {});
    geometry::MeshBuilder<float> mesh(store, {}, 1, data[0] & 4);
    try {
        switch (data[0] % 4) {
        case 0: geometry::ReadStL(in, "fuzz", mesh); break;
        case 1: geometry::ReadOFF(in, "fuzz", mesh); break;
        case 2: geometry::ReadPLY(in, "fuzz", mesh); break;
        default: geometry::ReadTRI(in, "fuzz", mesh); break;
        }
    } catch (const std::exception&) {
    }
    return 0;
}
