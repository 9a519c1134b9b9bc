#include "replay.h"

#include <clocale>
#include <iostream>

int main(int argc, char** argv)
{
    // Time, date and decimal separator as the program shows them.
    std::setlocale(LC_ALL, "");
    std::ios::sync_with_stdio(false);
    return palvero::runReplay(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
