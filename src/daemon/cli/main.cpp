#include "daemon/cli/mode_table.h"

int main(int argc, char** argv) { return qd::runMain(argc, argv); }
