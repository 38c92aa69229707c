// make_demo OUTDIR [DEMO_DIR]: writes the demo cache into OUTDIR/icache/
// (cache1, cache2, ...) from the text under DEMO_DIR (the repository's demo/
// by default). Point NetSonic's "CachePath" at OUTDIR to browse it.
#include <exception>
#include <iostream>
#include <string>

#include "demo_cache.h"

#ifndef QVORK_DEMO_DIR
#error "QVORK_DEMO_DIR must name the demo folder (set by tools/CMakeLists.txt)"
#endif

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
        std::cerr << "usage: make_demo OUTDIR [DEMO_DIR]\n"
                     "Writes the demo cache into OUTDIR/icache/ from the text in DEMO_DIR\n"
                     "(default " QVORK_DEMO_DIR ").\n";
        return 2;
    }
    try {
        const auto files = qvork_demo::BuildDemoCache(argc == 3 ? argv[2] : QVORK_DEMO_DIR, argv[1]);
        for (const auto &file : files) {
            std::cout << file.fileName << "  "
                      << (file.siteName.empty() ? "(raw file)" : file.siteName) << "  "
                      << file.responses << " responses, " << file.size << " bytes\n";
        }
        std::cout << "demo cache written to " << argv[1] << "/icache/\n";
        return 0;
    } catch (const std::exception &error) {
        std::cerr << "make_demo: " << error.what() << "\n";
        return 1;
    }
}
