#include "app/Startup.h"

int main(int argc, char** argv) {
    const int status = pmx::runProgram(argc, argv);
    // Everything is closed by now: a run the system ended ends as its signal would.
    pmx::endAsSignalled();
    return status;
}
