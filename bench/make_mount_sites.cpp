// Writes the mount benchmark's cache: OUTDIR/icache/cache1, the load
// benchmark's deep 65533-record site, and cache2, one site holding one
// 100 MB body (big.example.com/big.bin). Prints the two site names.
#include <iostream>
#include <string>

#include "bench_sites.h"
#include "site_writer.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cerr << "usage: mount_bench_sites OUTDIR\n";
        return 2;
    }
    const qvork_bench::fs::path icache = qvork_bench::fs::path(argv[1]) / "icache";
    try {
        qvork_bench::fs::create_directories(icache);
        const qvork_bench::LoadSite deep =
            qvork_bench::WriteLoadSite(icache, "cache1", qvork_bench::Shape::Deep, 65533, 64);
        std::string body(100u << 20, '\0');
        for (size_t i = 0; i < body.size(); ++i) {
            body[i] = static_cast<char>((i * 131) >> 7);
        }
        qvork_test::WriteSiteFile(icache / "cache2", "big.example.com",
                                  {qvork_test::OkRecord("big.bin", body, "application/octet-stream")});
        std::cout << deep.name << "\nbig.example.com\n";
    } catch (const std::exception &error) {
        std::cerr << "mount_bench_sites: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
