// The tools' command lines: parsing with CLI11, help on standard output,
// usage errors on standard error as "TOOL: what\nRun with --help for usage.".
#pragma once

#include <cstdio>

#include "CLI/CLI.hpp"

namespace capture {

inline constexpr int EXIT_USAGE_ERROR = 2;

// Returns -1 when the program is to go on, or its exit status: 0 after
// --help, EXIT_USAGE_ERROR after a usage error.
inline int parseCommandLine(CLI::App& app, int argc, char** argv, const char* tool) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::fprintf(stderr, "%s: %s\nRun with --help for usage.\n", tool, e.what());
        return EXIT_USAGE_ERROR;
    }
    return -1;
}

}  // namespace capture
