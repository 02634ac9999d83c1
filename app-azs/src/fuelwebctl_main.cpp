// Entry of fuelwebctl (see fuelwebctl.h).
#include <iostream>
#include <string>
#include <vector>

#include "fuelwebctl.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return azs_apps::fuelwebctl(args, std::cout, std::cerr);
}
