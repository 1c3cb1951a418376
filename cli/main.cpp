// morvel-text: prints the text image of each picture named on the command
// line, made as the window's Generate command makes it.

#include "cli/conversion_run.h"
#include "cli/options.h"
#include "platform/face_cache.h"
#include "platform/font.h"

int main(int argc, char** argv)
{
    // Resolved faces are kept between runs (see platform/face_cache.h): the
    // search for a stand-in face costs more than converting a small picture.
    morvel::setFaceCacheDirectory(morvel::defaultFaceCacheDirectory());
    int status = 0;
    {
        morvel::cli::ParseResult parsed = morvel::cli::parseOptions(argc, argv);
        status = parsed.options ? morvel::cli::ConversionRun(std::move(*parsed.options)).run() : parsed.exitStatus;
    }
    // Every font is gone with the run. The converter shares fontconfig with
    // nothing else: release it, so a memory checker sees a clean end.
    morvel::releaseFontSystem();
    return status;
}
