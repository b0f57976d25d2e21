#pragma once

#include <functional>
#include <string>

class IScene;
class TSimulationParameters;

namespace materials {
class TMaterial;
class TMaterialsList;
} // namespace materials

// Receives the user-visible lines; isError selects the error stream.
using RayCastingSink = std::function<void(const std::string& text, bool isError)>;

// The deterministic alternative to tracing. For every pair of a source (a simple
// source, seen as a point at its origin) and a plane detector of the scene it
// computes per pixel the path length of the ray from the source to the pixel centre
// inside each material, writes these thickness maps and, with Radiography, registers
// the primary radiograph in the detector and has it write its images.
//
// Every pair is checked before anything is written; errors throw with the text the
// user sees. Runs on the calling thread, its loops on all OpenMP threads, with
// results that do not depend on the number of threads.
void RunRayCasting(IScene& scene, const materials::TMaterialsList& materials,
                   const TSimulationParameters& parameters, const std::string& resultPrefix,
                   const RayCastingSink& display);

// The material the ray-casting run takes for the space outside the parts: the one
// named "air" in any case, or null.
const materials::TMaterial* FindAir(const materials::TMaterialsList& materials);
