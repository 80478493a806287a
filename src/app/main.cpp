#include "app_main.h"

int main(int argc, char** argv) {
    return brindlewick::runBrindlewick(argc, argv);
}
