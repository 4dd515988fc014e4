// Writes the hostile pictures and icon files of the branding tests, each as
// small as still makes its attack, as seeds for fuzz_brand (fuzz/make-corpus
// runs it). Usage: make_hostile_input FOLDER
#include <cstdio>
#include <string>

#include "picture_files.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    for (const pack_testing::NamedFile& seed : pack_testing::HostilePictures(false)) {
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
