// Writes a small PE image to use as a launcher stub in builds that have no
// Windows program of their own. Usage: make_pe_stub FILE [FORMATS]
// With FORMATS, the image carries a version block that names it the launcher
// and lists FORMATS as the archive formats it reads.
#include <cstdio>

#include "pack_test_support.h"
#include "test_files.h"

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3)
        return 2;
    testing_support::Bytes image = argc == 3 ? pack_testing::VersionedPeImage("Quorvane", argv[2])
                                             : testing_support::MinimalPeImage(0x1000);
    FILE* out = fopen(argv[1], "wb");
    if (out == nullptr)
        return 1;
    bool ok = fwrite(image.data(), 1, image.size(), out) == image.size();
    return fclose(out) == 0 && ok ? 0 : 1;
}
