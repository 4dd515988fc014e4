// Writes a small PE image to use as a launcher stub in builds that have no
// Windows program of their own. Usage: make_pe_stub FILE [FORMATS]
// With FORMATS, the image carries a version block that names it the launcher
// and lists FORMATS as the archive formats it reads. make_pe_stub FILE
// --launcher PICTURES writes one with the launcher's resources, which
// branding can change (the stock pictures read from PICTURES, res/pictures).
#include <cstdio>
#include <cstring>

#include "pack_test_support.h"
#include "test_files.h"

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3 && argc != 4)
        return 2;
    testing_support::Bytes image;
    if (argc == 4 && strcmp(argv[2], "--launcher") == 0)
        image = pack_testing::LauncherLikeImage(argv[3]);
    else if (argc == 3)
        image = pack_testing::VersionedPeImage("Quorvane", argv[2]);
    else if (argc == 2)
        image = testing_support::MinimalPeImage(0x1000);
    else
        return 2;
    FILE* out = fopen(argv[1], "wb");
    if (out == nullptr)
        return 1;
    bool ok = fwrite(image.data(), 1, image.size(), out) == image.size();
    return fclose(out) == 0 && ok ? 0 : 1;
}
