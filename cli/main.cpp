// loomvale-extract: saves the resources of Windows program files.
#include "cli/CliRun.h"

int main(int argc, char** argv) { return cli::RunExtractCommand(argc, argv); }
