// Writes the hostile pictures and icon files of the branding tests, each as
// small as still makes its attack, as seeds for fuzz_brand (fuzz/make-corpus
// runs it); with "full", as large as the tests make them, to measure.
// Usage: make_hostile_input FOLDER [full]
#include <cstdio>
#include <string>

#include "picture_files.h"

int main(int argc, char** argv)
{
    bool full = argc == 3 && std::string(argv[2]) == "full";
    if (argc != 2 && !full)
        return 2;
    for (const pack_testing::NamedFile& seed : pack_testing::HostilePictures(full)) {
        std::string path = std::string(argv[1]) + "/" + seed.name;
        FILE* out = fopen(path.c_str(), "wb");
        bool ok = out != nullptr && fwrite(seed.bytes.data(), 1, seed.bytes.size(), out) == seed.bytes.size();
        if (out == nullptr || fclose(out) != 0 || !ok) {
            fprintf(stderr, "make_hostile_input: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
