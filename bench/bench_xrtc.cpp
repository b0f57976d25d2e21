// Throughput of the compressed text stream on a 50 MB table of numbers, beside
// gzip -6 / gzip -d on the same data in the same run. MB/s are counted on the
// uncompressed size in both directions; the ratio is compressed / original.

#include "datafiles/XRTCStream.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Rows of a detector image as the text image writer prints them: tab-separated
// values in scientific notation, a smooth field with noise and some zeros.
std::string MakeTable(std::size_t bytes) {
    std::mt19937_64 rng(12345);
    std::normal_distribution<double> noise(0.0, 0.05);
    const int columns = 256;
    std::string table;
    table.reserve(bytes + 8192);
    char value[32];
    for (int row = 0; table.size() < bytes; ++row) {
        for (int c = 0; c < columns; ++c) {
            const double x = (c - 128) / 64.0, y = ((row % 512) - 256) / 128.0;
            double v = std::exp(-(x * x + y * y)) * (1.0 + noise(rng)) * 1.0e-3;
            if (c < 8 || c >= columns - 8)
                v = 0.0;
            std::snprintf(value, sizeof(value), "%.12e", v);
            if (c > 0)
                table.push_back('\t');
            table += value;
        }
        table.push_back('\n');
    }
    return table;
}

std::uintmax_t FileSize(const std::string& path) {
    return std::filesystem::file_size(path);
}

double Timed(const std::string& shellCommand) {
    const auto start = Clock::now();
    if (std::system(shellCommand.c_str()) != 0) {
        std::cerr << "failed: " << shellCommand << "\n";
        std::exit(1);
    }
    return Seconds(start);
}

void Bench(const char* what, double ours, const char* reference, double theirs, const char* unit) {
    std::printf("BENCH xrtc %s: %.3f %s; reference %s %.3f %s; ratio %.3f\n", what, ours, unit, reference, theirs,
                unit, ours / theirs);
}

} // namespace

int main() {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("bench_xrtc_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string plain = (dir / "table.txt").string();
    const std::string packed = (dir / "table.xrc").string();
    const std::string back = (dir / "back.txt").string();
    const std::string gz = (dir / "table.txt.gz").string();
    const std::string gzBack = (dir / "gzback.txt").string();

    const std::string table = MakeTable(50u << 20);
    std::ofstream(plain, std::ios::binary) << table;
    const double mb = static_cast<double>(table.size()) / 1.0e6;

    auto start = Clock::now();
    datafiles::CompressFile(plain, packed);
    const double compress = Seconds(start);
    start = Clock::now();
    datafiles::DecompressFile(packed, back);
    const double decompress = Seconds(start);
    if (FileSize(back) != table.size()) {
        std::cerr << "round trip changed the size\n";
        return 1;
    }

    const double gzip = Timed("gzip -6 -c '" + plain + "' > '" + gz + "'");
    const double gunzip = Timed("gzip -d -c '" + gz + "' > '" + gzBack + "'");

    std::printf("table: %.1f MB of numbers, 256 columns\n", mb);
    Bench("compress", mb / compress, "gzip -6", mb / gzip, "MB/s");
    Bench("decompress", mb / decompress, "gzip -d", mb / gunzip, "MB/s");
    Bench("compressed size", static_cast<double>(FileSize(packed)) / static_cast<double>(table.size()), "gzip -6",
          static_cast<double>(FileSize(gz)) / static_cast<double>(table.size()), "of original");

    fs::remove_all(dir);
    return 0;
}
