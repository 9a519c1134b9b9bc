#include "formats.h"
#include "office_cli.h"

#include <clocale>
#include <cstdio>
#include <iostream>
#include <string>

#ifndef _WIN32
#include <termios.h>
#include <unistd.h>
#endif

namespace {

// Asks on the terminal without echo; nobody to ask when standard input is no terminal.
std::string askPassword(const std::string& prompt)
{
#ifdef _WIN32
    (void)prompt;
    return {};
#else
    if (!::isatty(STDIN_FILENO))
        return {};
    std::cerr << prompt << std::flush;
    termios saved{};
    ::tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string password;
    std::getline(std::cin, password);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
    return password;
#endif
}

} // namespace

int main(int argc, char** argv)
{
    // Times and dates as the program shows them.
    std::setlocale(LC_ALL, "");
    palvero::SystemFormats formats;
    return palvero::runOffice(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, formats,
                              askPassword);
}
