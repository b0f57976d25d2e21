#include "geometry/ClosedSurface.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

namespace geometry {

namespace {

using Edge = std::pair<GeometryIndex, GeometryIndex>;

// How many facets use each undirected edge (smaller index first).
std::map<Edge, std::size_t> CountEdges(const std::vector<Facet>& facets) {
    std::map<Edge, std::size_t> counts;
    for (const Facet& f : facets) {
        const GeometryIndex v[3] = {f.V0, f.V1, f.V2};
        for (int k = 0; k < 3; ++k) {
            const GeometryIndex a = v[k], b = v[(k + 1) % 3];
            ++counts[{std::min(a, b), std::max(a, b)}];
        }
    }
    return counts;
}

std::size_t CountBoundary(const std::map<Edge, std::size_t>& counts) {
    return static_cast<std::size_t>(
        std::count_if(counts.begin(), counts.end(), [](const auto& e) { return e.second == 1; }));
}

std::string Plural(std::size_t n, const char* one, const char* many) { return n == 1 ? one : many; }

// The holes as closed vertex loops, each running against the direction in which its
// facets use the boundary edges, so that filling it continues their orientation.
std::vector<std::vector<GeometryIndex>> BoundaryLoops(const std::vector<Facet>& facets,
                                                      const std::map<Edge, std::size_t>& counts) {
    std::multimap<GeometryIndex, GeometryIndex> next;
    for (const Facet& f : facets) {
        const GeometryIndex v[3] = {f.V0, f.V1, f.V2};
        for (int k = 0; k < 3; ++k) {
            const GeometryIndex a = v[k], b = v[(k + 1) % 3];
            if (counts.at({std::min(a, b), std::max(a, b)}) == 1) next.emplace(b, a);
        }
    }
    std::vector<std::vector<GeometryIndex>> loops;
    while (!next.empty()) {
        std::vector<GeometryIndex> path{next.begin()->first};
        for (;;) {
            const auto it = next.find(path.back());
            if (it == next.end()) break;  // open chain: cannot be closed by a fan
            const GeometryIndex to = it->second;
            next.erase(it);
            const auto seen = std::find(path.begin(), path.end(), to);
            if (seen == path.end()) {
                path.push_back(to);
                continue;
            }
            // Back at a vertex of the path: the part from there is one loop.
            loops.emplace_back(seen, path.end());
            path.erase(seen + 1, path.end());
            if (path.size() == 1 && next.find(path.back()) == next.end()) break;
        }
    }
    return loops;
}

} // namespace

template <typename T>
ClosedSurfaceReport CheckClosed(FacetManager<T>& scene, std::uint32_t objectID, const std::vector<Facet>& facets) {
    const MessageSink& out = scene.GetMessageSink();
    ClosedSurfaceReport report;
    const auto counts = CountEdges(facets);
    std::set<GeometryIndex> vertices;
    for (const Facet& f : facets) vertices.insert({f.V0, f.V1, f.V2});
    report.Facets = facets.size();
    report.Edges = counts.size();
    report.Vertices = vertices.size();
    out("Object " + std::to_string(objectID) + ": " + std::to_string(report.Facets) + " facets, " +
            std::to_string(report.Edges) + " edges, " + std::to_string(report.Vertices) + " vertices\n",
        false);
    for (const auto& [edge, n] : counts)
        if (n != 2)
            out("Edge " + std::to_string(edge.first) + ", " + std::to_string(edge.second) + " belongs to " +
                    std::to_string(n) + Plural(n, " facet", " facets") + "\n",
                false);
    report.BoundaryEdges = CountBoundary(counts);
    if (report.BoundaryEdges == 0) return report;
    out("Not a closed surface! " + std::to_string(report.BoundaryEdges) + " boundary edge" +
            Plural(report.BoundaryEdges, "!", "s!") + "\nAttempting to fix.\n",
        false);
    std::vector<Facet> repaired = facets;
    for (const auto& loop : BoundaryLoops(facets, counts)) {
        for (std::size_t k = 1; k + 1 < loop.size(); ++k) {
            const Facet f{loop[0], loop[k], loop[k + 1], objectID};
            if (f.V0 == f.V1 || f.V1 == f.V2 || f.V0 == f.V2)
                throw std::runtime_error("A Facet needs three distinct vertices!");
            scene.AddFacet(f);
            repaired.push_back(f);
            ++report.AddedFacets;
        }
    }
    out("Added " + std::to_string(report.AddedFacets) + " facets.\n", false);
    report.RemainingBoundaryEdges = CountBoundary(CountEdges(repaired));
    out("Remaining after the repair: " + std::to_string(report.RemainingBoundaryEdges) + " boundary edge" +
            Plural(report.RemainingBoundaryEdges, ".", "s.") + "\n",
        false);
    return report;
}

template ClosedSurfaceReport CheckClosed<float>(FacetManager<float>&, std::uint32_t, const std::vector<Facet>&);
template ClosedSurfaceReport CheckClosed<double>(FacetManager<double>&, std::uint32_t, const std::vector<Facet>&);

} // namespace geometry
