#pragma once

#include <string>
#include <vector>

// A process of rank 1 and above in a cluster run: it loads what rank 0 sends, traces
// the batches rank 0 hands out and sends every hand-over of its detectors to rank 0.
// It shows nothing and writes no file; rank 0 reports its errors. Of the command line
// it takes --threads, --nice and --workingdir. Returns when rank 0 says Quit.
int RunClusterWorker(const std::vector<std::string>& arguments);
