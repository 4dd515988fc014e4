// Writes a small PE image to use as a launcher stub in builds that have no
// Windows program of their own. Usage: make_pe_stub FILE
#include <cstdio>

#include "pack_test_support.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    pack_testing::Bytes image = pack_testing::MinimalPeImage(0x1000);
    FILE* out = fopen(argv[1], "wb");
    if (out == nullptr)
        return 1;
    bool ok = fwrite(image.data(), 1, image.size(), out) == image.size();
    return fclose(out) == 0 && ok ? 0 : 1;
}
