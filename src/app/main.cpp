#include "app/Startup.h"

int main(int argc, char** argv) {
    return pmx::runProgram(argc, argv);
}
