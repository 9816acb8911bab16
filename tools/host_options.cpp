// The stand-in host's options, its usage text and the route it loads.
#include "host_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

Options options;
Route route;

namespace {

const char kDefaultRoute[] =
#include "default_route.inc"
    ;

const char kUsage[] =
    "usage: waypost-host [options]\n"
    "\n"
    "Loads the module as the flight simulator does and flies an aircraft along a route while the module\n"
    "samples it. Console lines are tagged \"[host]\"; --echo adds the relay text, tagged \"[relay]\".\n"
    "\n"
    "The simulator's window (host generation, read by the module when it is loaded):\n"
    "  --generation G   title for a generation: 98, 2000 (both 0), 2002 (1), 2004, none (both 2)\n"
    "  --title TEXT     main-window title (default \"Waypost Stand-in Flight Simulator 2004\")\n"
    "  --class NAME     main-window class (default FS98MAIN)\n"
    "  --no-window      create no main window (the module then takes generation 0)\n"
    "\n"
    "The module and its services:\n"
    "  --dll PATH       module to load (default Waypost.dll beside this program); its INI lies beside it\n"
    "  --omit LIST      leave ImportTable rows empty, comma-separated: hook, globaldata, variables,\n"
    "                   oldhook, relaypeer, relay\n"
    "  --relay-flags N  flags word of the relay record (default 1: accepts output)\n"
    "  --relay-no-entry relay record without a send entry\n"
    "  --ready-after S  the global data block's ready word stays 0 for S s after ModuleInit (default 0)\n"
    "\n"
    "The run:\n"
    "  --rate HZ        frames per second; the module's hook is called once per frame (default 30)\n"
    "  --low-precision  run with the x87 precision lowered to 24 bits, as 3D hosts do\n"
    "  --run S          seconds from ModuleInit to ModuleDeinit (default 90)\n"
    "  --linger S       keep the message loop running S s after the module is unloaded (default 0)\n"
    "  --route FILE     route to fly (default: the built-in route, tools/routes/default.route)\n"
    "  --start TIME     the simulator's clock when the module starts, \"YYYY-MM-DD HH:MM:SS\"\n"
    "                   (default: the route's)\n"
    "  --log FILE       JSON-lines log: what was served at each sample, relay texts, lifecycle events\n"
    "  --echo           print every text the relay receives\n"
    "  --version        this program's version\n"
    "  --help           this text\n"
    "\n"
    "Route file lines: \"wp LAT LON ALT_FT KTAS\" (two or more, flown in a loop), \"wind FROM_DEG KT\",\n"
    "\"variation DEG\" (east positive), \"start YYYY-MM-DD HH:MM:SS\"; \"#\" starts a comment.\n"
    "\n"
    "The log holds one JSON object a line, each with \"t\" (seconds since the host started) and \"kind\":\n"
    "start, linkage (Linkage words), imports (rows filled), init (ModuleInit's result), settings (the INI\n"
    "after start-up), hook (register/remove: service, entry, constant), sample (ids registered and read in\n"
    "that frame, the values served by id, the ground-speed and ready words, the system clock, the\n"
    "aircraft's true state and the wind), relay (first argument, length, text), timer, anomaly, deinit\n"
    "(duration, hooks and threads left), unload, end (counts and relay periods).\n"
    "\n"
    "Exit status: 0 when the run showed nothing wrong, 1 for a usage or load error, 3 when the module did\n"
    "something a host must not see (listed as \"anomaly\" lines): a hook or service misuse, a timer after\n"
    "unload, a send after shut-down, a thread outliving shut-down.\n";

bool ParseNumber(const char* text, double* value) {
    char* end;
    *value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(*value);
}

bool ParseOmit(const char* list) {
    static const char* const names[kImportRowCount] = {"hook",      "globaldata", "variables", "oldhook",
                                                       "relaypeer", "relay",      nullptr};
    char copy[256];
    std::snprintf(copy, sizeof copy, "%s", list);
    for (char* name = std::strtok(copy, ","); name != nullptr; name = std::strtok(nullptr, ",")) {
        bool known = false;
        for (int row = 0; row < kRowEnd; ++row) {
            if (std::strcmp(name, names[row]) == 0) {
                options.omit[row] = true;
                known = true;
            }
        }
        if (!known) {
            std::fprintf(stderr, "waypost-host: unknown row \"%s\" in --omit\n", name);
            return false;
        }
    }
    return true;
}

const char* GenerationTitle(const char* generation) {
    static const char* const titles[][2] = {
        {"98", "Waypost Stand-in Flight Simulator 98"},
        {"2000", "Waypost Stand-in Flight Simulator 2000"},
        {"2002", "Waypost Stand-in Flight Simulator 2002"},
        {"2004", "Waypost Stand-in Flight Simulator 2004"},
        {"none", "Waypost Stand-in Flight Simulator"},
    };
    for (const auto& title : titles) {
        if (std::strcmp(generation, title[0]) == 0) {
            return title[1];
        }
    }
    return nullptr;
}

} // namespace

int ParseOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        double number = 0.0;
        bool usedValue = true;
        bool valid = true;
        if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (std::strcmp(option, "--version") == 0) {
            // WAYPOST_VERSION: the version text CMake computes for the whole tree, the module's too.
            std::printf("waypost-host %s\n", WAYPOST_VERSION);
            std::exit(0);
        } else if (std::strcmp(option, "--no-window") == 0) {
            options.window = false;
            usedValue = false;
        } else if (std::strcmp(option, "--relay-no-entry") == 0) {
            options.relaySendEntry = false;
            usedValue = false;
        } else if (std::strcmp(option, "--echo") == 0) {
            options.echo = true;
            usedValue = false;
        } else if (std::strcmp(option, "--low-precision") == 0) {
            options.lowPrecision = true;
            usedValue = false;
        } else if (value == nullptr) {
            valid = false;
        } else if (std::strcmp(option, "--dll") == 0) {
            options.dllPath = value;
        } else if (std::strcmp(option, "--class") == 0) {
            options.className = value;
        } else if (std::strcmp(option, "--title") == 0) {
            options.title = value;
        } else if (std::strcmp(option, "--generation") == 0) {
            options.title = GenerationTitle(value);
            valid = options.title != nullptr;
        } else if (std::strcmp(option, "--omit") == 0) {
            valid = ParseOmit(value);
        } else if (std::strcmp(option, "--relay-flags") == 0) {
            valid = ParseNumber(value, &number) && number >= 0 && number <= 4294967295.0;
            options.relayFlags = static_cast<uint32_t>(number);
        } else if (std::strcmp(option, "--ready-after") == 0) {
            valid = ParseNumber(value, &options.readyAfter) && options.readyAfter >= 0;
        } else if (std::strcmp(option, "--rate") == 0) {
            valid = ParseNumber(value, &options.rate) && options.rate >= 1 && options.rate <= 1000;
        } else if (std::strcmp(option, "--run") == 0) {
            valid = ParseNumber(value, &options.runSeconds) && options.runSeconds >= 0;
        } else if (std::strcmp(option, "--linger") == 0) {
            valid = ParseNumber(value, &options.lingerSeconds) && options.lingerSeconds >= 0;
        } else if (std::strcmp(option, "--route") == 0) {
            options.routePath = value;
        } else if (std::strcmp(option, "--start") == 0) {
            options.start = value;
        } else if (std::strcmp(option, "--log") == 0) {
            options.logPath = value;
        } else {
            std::fprintf(stderr, "waypost-host: unknown option %s (see --help)\n", option);
            return 1;
        }
        if (!valid) {
            std::fprintf(stderr, "waypost-host: bad or missing value for %s (see --help)\n", option);
            return 1;
        }
        i += usedValue ? 1 : 0;
    }
    return 0;
}

bool LoadRoute() {
    static char text[65536];
    const char* source = kDefaultRoute;
    if (options.routePath != nullptr) {
        FILE* file = std::fopen(options.routePath, "rb");
        if (file == nullptr) {
            std::fprintf(stderr, "waypost-host: cannot open route %s\n", options.routePath);
            return false;
        }
        const size_t length = std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
        text[length] = '\0';
        source = text;
    }
    char error[160];
    if (!ParseRoute(source, &route, error, sizeof error)) {
        std::fprintf(stderr, "waypost-host: route %s: %s\n",
                     options.routePath ? options.routePath : "(built-in)", error);
        return false;
    }
    if (options.start != nullptr) {
        char line[96];
        std::snprintf(line, sizeof line, "start %s\nwp 0 0 0 100\nwp 0 1 0 100\n", options.start);
        Route startOnly;
        if (!ParseRoute(line, &startOnly, error, sizeof error)) {
            std::fprintf(stderr, "waypost-host: --start: %s\n", error);
            return false;
        }
        route.start = startOnly.start;
    }
    return true;
}
