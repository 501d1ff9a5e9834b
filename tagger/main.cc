#include "driver.h"

int main(int argc, char **argv) {
    return velmotag_main(argc, argv);
}
