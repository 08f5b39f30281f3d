// The main of every Qt test program.
#include "qt_fixture.h"

int main(int argc, char **argv) { return RunQtTests(argc, argv); }
