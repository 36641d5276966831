// Writes a synthetic node_modules of the given number of directories under DIR, shaped like an
// npm install: packages and scoped packages with lib, dist, src and test folders, a few nested
// node_modules, and two small files in each directory. The same arguments give the same tree.
//   jotwarden-node-modules DIR [DIRECTORIES]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Writer
{
    long budget;
    std::mt19937 random{20240601};

    bool makeDirectory(const fs::path& dir)
    {
        if (budget <= 0 || !fs::create_directory(dir))
            return false;
        --budget;
        std::ofstream(dir / "index.js") << "module.exports = require('./lib');\n";
        std::ofstream(dir / "README.md") << "# " << dir.filename().string() << "\n";
        return true;
    }

    std::string name(const char* prefix) { return prefix + std::to_string(random() % 1000000); }

    // One package: a few folders, some of them a level deeper, now and then its own node_modules.
    void package(const fs::path& dir, int depth)
    {
        if (!makeDirectory(dir))
            return;
        static const char* const folders[] = {"lib", "dist", "src", "test", "types", "esm", "cjs", "bin"};
        const int count = 2 + int(random() % 5);
        for (int i = 0; i < count && budget > 0; ++i) {
            const fs::path folder = dir / folders[i % 8];
            if (!makeDirectory(folder))
                return;
            for (int j = int(random() % 4); j > 0; --j)
                makeDirectory(folder / name("part"));
        }
        if (depth < 2 && random() % 10 == 0) {
            const fs::path nested = dir / "node_modules";
            if (makeDirectory(nested)) {
                for (int j = 1 + int(random() % 3); j > 0; --j)
                    package(nested / name("dep"), depth + 1);
            }
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: jotwarden-node-modules DIR [DIRECTORIES]\n");
        return 2;
    }
    Writer writer{argc == 3 ? std::atol(argv[2]) : 50000};
    const fs::path top = fs::path(argv[1]) / "node_modules";
    if (fs::exists(top)) {
        std::fprintf(stderr, "%s exists already\n", top.c_str());
        return 1;
    }
    writer.makeDirectory(top);
    while (writer.budget > 0) {
        if (writer.random() % 5 == 0) {
            const fs::path scope = top / writer.name("@scope");
            if (writer.makeDirectory(scope))
                writer.package(scope / writer.name("pkg"), 0);
        } else {
            writer.package(top / writer.name("pkg"), 0);
        }
    }
    std::printf("%s: directories=%ld\n", top.c_str(), argc == 3 ? std::atol(argv[2]) : 50000L);
    return 0;
}
