// Closed parts found and wound outward, so that faces turned away from the
// viewer can be hidden.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include <trel/scene.h>

namespace trel::scene {
namespace {

bool degenerate(const triangle &t) { return t[0] == t[1] || t[1] == t[2] || t[0] == t[2]; }

// What is known of a part, kept at its root.
enum partflags : std::uint8_t {
    open = 1,     // an edge lies alone or crowded (three or more triangles), or a corner repeats
    disagree = 2, // its triangles cannot all be wound one way (a one-sided surface)
};

// The parts: sets of triangles joined by shared edges, each triangle also
// knowing whether it is wound the other way from its part's root (`odd`
// relative to the triangle above it). Joining and finding take nearly
// constant time (paths are shortened as they are walked); the memory is six
// bytes a triangle.
class partition {
  public:
    explicit partition(std::size_t faces) : up_(faces), odd_(faces, 0), flags_(faces, 0) {
        for (std::size_t f = 0; f < faces; ++f) {
            up_[f] = static_cast<std::uint32_t>(f);
        }
    }

    // The root of f's part, and whether f is wound the other way from it.
    std::pair<std::uint32_t, std::uint8_t> find(std::uint32_t f) {
        std::uint32_t root = f;
        std::uint8_t turned = 0;
        while (up_[root] != root) {
            turned ^= odd_[root];
            root = up_[root];
        }
        // Every triangle on the way now hangs from the root directly.
        std::uint32_t x = f;
        std::uint8_t xturned = turned;
        while (x != root) {
            const std::uint32_t next = up_[x];
            const auto nextturned = static_cast<std::uint8_t>(xturned ^ odd_[x]);
            up_[x] = root;
            odd_[x] = xturned;
            x = next;
            xturned = nextturned;
        }
        return {root, turned};
    }

    // Joins the parts of f and g, which share an edge: g is to be wound the
    // other way from f when `turn` is 1.
    void join(std::uint32_t f, std::uint32_t g, std::uint8_t turn) {
        const auto [rf, tf] = find(f);
        const auto [rg, tg] = find(g);
        if (rf == rg) {
            if ((tf ^ tg) != turn) {
                flags_[rf] |= disagree;
            }
            return;
        }
        up_[rg] = rf;
        odd_[rg] = static_cast<std::uint8_t>(tf ^ tg ^ turn);
        flags_[rf] |= flags_[rg];
    }

    void mark(std::uint32_t f, std::uint8_t flag) { flags_[find(f).first] |= flag; }
    std::uint8_t flags(std::uint32_t root) const { return flags_[root]; }

  private:
    std::vector<std::uint32_t> up_;
    std::vector<std::uint8_t> odd_;
    std::vector<std::uint8_t> flags_;
};

// Joins the triangles that share edges. The half-edges (side s of triangle i
// runs from corner s to corner s + 1) are grouped by the lower-numbered
// corner of their edge (those of vertex a are byedge[start[a]] ...
// byedge[start[a + 1] - 1]), each held as the other corner in the high 32
// bits, then the half-edge's number 3i + s, then a bit set when it runs from
// the lower corner; each group is sorted, so that the half-edges of one edge
// lie side by side. Time and memory grow with the mesh (a few bytes an edge),
// unlike a map keyed by edge. Degenerate triangles share no edge.
std::vector<std::uint64_t> edgegroups(const mesh &m, partition &parts,
                                      std::vector<std::uint32_t> &start) {
    const std::vector<triangle> &t = m.triangles;
    start.assign(m.vertices.size() + 2, 0);
    for (std::uint32_t i = 0; i < t.size(); ++i) {
        const triangle &f = t[i];
        if (degenerate(f)) {
            parts.mark(i, open);
            continue;
        }
        for (std::uint32_t side = 0; side < 3; ++side) {
            ++start[std::min(f[side], f[(side + 1) % 3]) + 2];
        }
    }
    for (std::size_t a = 2; a < start.size(); ++a) {
        start[a] += start[a - 1];
    }
    // start[a + 1] is now where a's group begins; filling moves it to its
    // end, which is where a + 1's group begins.
    std::vector<std::uint64_t> byedge(start.back());
    for (std::uint32_t i = 0; i < t.size(); ++i) {
        const triangle &f = t[i];
        if (!degenerate(f)) {
            for (std::uint32_t side = 0; side < 3; ++side) {
                const std::uint32_t a = f[side];
                const std::uint32_t b = f[(side + 1) % 3];
                byedge[start[std::min(a, b) + 1]++] = static_cast<std::uint64_t>(std::max(a, b))
                                                          << 32 |
                                                      (3 * i + side) << 1 | (a < b ? 1U : 0U);
            }
        }
    }
    return byedge;
}

// Sorts one vertex's group. Groups are small (about three half-edges on
// average in a closed mesh): insertion sort beats the general one there.
void sortgroup(std::vector<std::uint64_t>::iterator first,
               std::vector<std::uint64_t>::iterator last) {
    if (last - first > 16) {
        std::sort(first, last);
        return;
    }
    for (auto i = first + 1; i < last; ++i) {
        const std::uint64_t key = *i;
        auto j = i;
        for (; j != first && *(j - 1) > key; --j) {
            *j = *(j - 1);
        }
        *j = key;
    }
}

// Joins the triangles along each edge of one sorted group: an edge with
// exactly two half-edges joins their triangles; any other leaves them open.
void joingroup(std::vector<std::uint64_t>::const_iterator first,
               std::vector<std::uint64_t>::const_iterator last, partition &parts) {
    const auto other = [](std::uint64_t key) { return static_cast<std::uint32_t>(key >> 32); };
    const auto face = [](std::uint64_t key) { return (static_cast<std::uint32_t>(key) >> 1) / 3; };
    for (auto run = first; run != last;) {
        auto end = run + 1;
        while (end != last && other(*end) == other(*run)) {
            ++end;
        }
        if (end - run == 2) {
            // Two triangles running along their edge the same way wind
            // opposite ways round: one is to be turned.
            const auto same = static_cast<std::uint8_t>((run[0] & 1) == (run[1] & 1) ? 1 : 0);
            parts.join(face(run[0]), face(run[1]), same);
        } else {
            for (auto h = run; h != end; ++h) {
                parts.mark(face(*h), open);
            }
        }
        run = end;
    }
}

// Joins every pair of triangles that share an edge into one part.
void joinparts(const mesh &m, partition &parts) {
    std::vector<std::uint32_t> start;
    std::vector<std::uint64_t> byedge = edgegroups(m, parts, start);
    for (std::size_t a = 0; a < m.vertices.size(); ++a) {
        const auto first = byedge.begin() + static_cast<std::ptrdiff_t>(start[a]);
        const auto last = byedge.begin() + static_cast<std::ptrdiff_t>(start[a + 1]);
        sortgroup(first, last);
        joingroup(first, last, parts);
    }
}

// Six times the volume of the tetrahedron from `o` to the triangle a, b, c:
// positive when the triangle winds counter-clockwise seen from the side away
// from o.
double volume(const vec3 &o, const vec3 &a, const vec3 &b, const vec3 &c) {
    const vec3 u{a.x - o.x, a.y - o.y, a.z - o.z};
    const vec3 v{b.x - o.x, b.y - o.y, b.z - o.z};
    const vec3 w{c.x - o.x, c.y - o.y, c.z - o.z};
    return u.x * (v.y * w.z - v.z * w.y) - u.y * (v.x * w.z - v.z * w.x) +
           u.z * (v.x * w.y - v.y * w.x);
}

// Six times the volume each part encloses (at its root), positive when its
// root winds counter-clockwise seen from outside; measured from the middle of
// the mesh's box, which the order of the triangles and of their corners does
// not move (and near the mesh, so that far-off coordinates lose less).
std::vector<double> enclosedvolumes(const mesh &m, partition &parts) {
    const std::vector<triangle> &t = m.triangles;
    const vec3 o = bounds(m).centre();
    std::vector<double> enclosed(t.size(), 0.0);
    for (std::uint32_t f = 0; f < t.size(); ++f) {
        const auto [root, turned] = parts.find(f);
        const double v = volume(o, m.vertices[t[f][0]], m.vertices[t[f][1]], m.vertices[t[f][2]]);
        enclosed[root] += turned != 0 ? -v : v;
    }
    return enclosed;
}

// A part is closed when no edge of it lies alone or crowded, no triangle
// repeats a corner, its triangles can all be wound one way, and it encloses a
// volume; it is then wound outward. An open part that can be wound one way is
// wound as if it were closed: its faces are still lit from the side the
// viewer sees, but a file and the same file wound the other way draw the same
// picture (where a face and one turned away meet on the outline, the first
// drawn stays). A one-sided part, or one without volume, is left as it is.
void windparts(mesh &m, partition &parts, const std::vector<double> &enclosed) {
    std::vector<triangle> &t = m.triangles;
    const std::size_t faces = t.size();
    std::vector<std::uint8_t> sealed(faces, 0);
    std::size_t sealedcount = 0;
    for (std::uint32_t f = 0; f < faces; ++f) {
        const auto [root, turned] = parts.find(f);
        const double v = enclosed[root];
        if ((parts.flags(root) & disagree) != 0 || !(v != 0.0)) {
            continue;
        }
        if ((turned ^ (v < 0.0 ? 1 : 0)) != 0) {
            std::swap(t[f][1], t[f][2]);
        }
        if ((parts.flags(root) & open) == 0) {
            sealed[f] = 1;
            ++sealedcount;
        }
    }
    if (sealedcount == faces) {
        m.closed = true;
    } else if (sealedcount > 0) {
        m.sealed = std::move(sealed);
    }
}

} // namespace

void orient(mesh &m) {
    m.closed = false;
    m.sealed.clear();
    const std::size_t count = m.vertices.size();
    const std::size_t faces = m.triangles.size();
    // Half-edges are numbered in 31 bits, next to their direction.
    if (faces == 0 || faces > (std::numeric_limits<std::uint32_t>::max() >> 1) / 3) {
        return;
    }
    for (const triangle &t : m.triangles) {
        for (const std::uint32_t i : t) {
            if (i >= count) {
                return;
            }
        }
    }
    partition parts(faces);
    joinparts(m, parts);
    windparts(m, parts, enclosedvolumes(m, parts));
}

} // namespace trel::scene
