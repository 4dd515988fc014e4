// guide: the splash's layout drawn for a designer, over a grid or a splash.
#include "guide.h"
#include "tool.h"

int Guide(const Arguments& args)
{
    if (args.output.empty())
        return Usage("guide needs -o OUT");
    if (!args.operands.empty())
        return Usage("guide takes no FILE: give the splash to draw over with --splash");
    PackResult result;
    if (WriteGuide(args.output, args.brand.splash, &result) != PackError::Ok)
        return Failed(result, args.codePage);
    return EXIT_SUCCESS_CODE;
}
