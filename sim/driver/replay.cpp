// Loading the replay module: libozrsim_replay.so is looked for next to this
// library first, then by the dynamic linker's search path. It stays loaded
// for the life of the program (the HDF5 library does not take well to being
// unloaded).
#include "replay.h"

#include <dlfcn.h>

#include <string>

namespace ozrsim {

namespace {

constexpr const char* MODULE_NAME = "libozrsim_replay.so";

using OpenFn = Replay* (*)(Config*, std::string*);

std::string moduleBesideThisLibrary() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&moduleBesideThisLibrary), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    const std::string self = info.dli_fname;
    const size_t slash = self.rfind('/');
    if (slash == std::string::npos) return {};
    return self.substr(0, slash + 1) + MODULE_NAME;
}

OpenFn loadModule(std::string& error) {
    static OpenFn entry = nullptr;
    static std::string loadError;
    static const bool loaded = [] {
        void* handle = nullptr;
        if (const std::string beside = moduleBesideThisLibrary(); !beside.empty())
            handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) handle = dlopen(MODULE_NAME, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            loadError =
                std::string("cannot load ") + MODULE_NAME + ": " + (why ? why : "not found");
            return false;
        }
        entry = reinterpret_cast<OpenFn>(dlsym(handle, "ozrsim_open_recording"));
        if (!entry) {
            loadError = std::string(MODULE_NAME) + " has no entry point ozrsim_open_recording";
            return false;
        }
        return true;
    }();
    if (!loaded) error = loadError;
    return loaded ? entry : nullptr;
}

}  // namespace

std::shared_ptr<Replay> Replay::open(Config& config, std::string& error) {
    const OpenFn openRecording = loadModule(error);
    if (!openRecording) return nullptr;
    return std::shared_ptr<Replay>(openRecording(&config, &error));
}

}  // namespace ozrsim
