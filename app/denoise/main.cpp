// cloud_denoiser: runs the denoise network over recorded point-cloud frames.
#include <cstdio>
#include <exception>

#include "app/denoise/src/driver.h"

int main(int argc, char** argv) {
    try {
        return krell::runCloudDenoiser(argc, argv);
    } catch (const std::exception& error) {
        // File-system, parameter and framework failures end the run with their own text.
        std::fprintf(stderr, "ERROR: %s\n", error.what());
        return 1;
    }
}
