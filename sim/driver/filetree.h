// The plain files the emulated driver publishes (node placeholders, driver
// version, hwmon devices, calibration) live in a private directory; the
// path entry points redirect the served prefixes there.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ozrsim.h"

namespace ozrsim {

enum class NodeKind : uint8_t { None = 0, Video, Subdev, HwmonInput };

// Where every served path lives. Immutable once published: the path entry
// points read it without a lock.
struct PathMap {
    std::string root;                   // private directory, no trailing slash
    std::vector<std::string> prefixes;  // served absolute prefixes
    std::string videoPath;              // "/run/ozr3x0/video"
    std::string subdevPath;             // "/run/ozr3x0/subdev"
    std::string hwmonInputReal;         // resolved real path of the sensor's input file
};

struct Resolved {
    NodeKind node = NodeKind::None;  // Video or Subdev for the device node paths
    std::string path;                // the path to use on the real file system
};

// The published map, or null when unconfigured.
const PathMap* activePathMap();
// Publishes a new map (null: serve nothing). Replaced maps are kept for the
// life of the process, since a concurrent caller may still be reading one.
void publishPathMap(PathMap* map);

// Lexically normalised absolute path ("//", "." and ".." removed); empty for
// a relative path.
std::string normalizePath(const char* path);

// True when `path` is served; `out` then holds the redirected path.
bool resolvePath(const char* path, Resolved& out);

// Maps a real path inside the private directory back to the path the
// application knows; other paths are returned unchanged.
std::string unredirectPath(const std::string& realPath);

// Builds and maintains the private directory.
class FileTree {
public:
    // Creates the directory and its files for `config`, fills `map`; returns
    // 0 or a negative errno value (then nothing is left behind).
    int create(const Config& config, uint32_t width, uint32_t height, PathMap& map);
    // Rewrites the hwmon input file atomically (readers of the old file keep
    // a whole value). Callers serialise the calls.
    void writeTemperature(int32_t milliCelsius);
    // The driver was unbound: the node files disappear.
    void removeNodes();
    // The driver was bound again: the node files are back.
    void restoreNodes();
    // Removes the whole directory (only in the process that created it).
    void destroy();

    const std::string& root() const { return root_; }

private:
    std::string root_;
    std::string nodeDir_;
    std::string inputPath_;
    std::string scratchPath_;
    int ownerPid_ = 0;
};

}  // namespace ozrsim
