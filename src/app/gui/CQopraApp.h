#pragma once

#include <string>
#include <vector>

// The application object: brings the process-wide services up in order, runs the main loop until the
// user or a signal ends it, and takes everything down in the reverse order.
class CQopraApp {
public:
    // Returns the process exit code.
    int Run(int argc, char** argv);
};
