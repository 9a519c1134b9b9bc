// wmbus-sim: a wireless M-Bus receiver on a pseudo-terminal, for trying the program without
// radio hardware and for end-to-end tests.

#include "capture.h"
#include "pseudo_terminal.h"
#include "sim_options.h"
#include "simulator.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace palvero::sim;

namespace {

int g_stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    int saved = errno;
    char b = 1;
    [[maybe_unused]] auto n = ::write(g_stopPipe[1], &b, 1);
    errno = saved;
}

int usageError(const std::string& what)
{
    std::fprintf(stderr, "wmbus-sim: %s (--help for usage)\n", what.c_str());
    return 2;
}

int failure(const std::string& what, int code)
{
    std::fprintf(stderr, "wmbus-sim: %s\n", what.c_str());
    return code;
}

// A link left by an earlier run is replaced; anything else at that path is not ours.
bool makeLink(const std::string& link, const std::string& target, std::string& error)
{
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + " exists and is not a symbolic link";
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        error = "cannot make the link " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void installStopSignals()
{
    struct sigaction sa{};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
}

// The moment a test or the program needs to see the port gone while we are still alive.
void waitUnlessStopped(int ms)
{
    pollfd p{g_stopPipe[0], POLLIN, 0};
    poll(&p, 1, ms);
}

} // namespace

int main(int argc, char** argv)
{
    ParsedOptions parsed = parseOptions(argc, argv);
    if (!parsed.error.empty())
        return usageError(parsed.error);
    const SimOptions& options = parsed.options;
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    std::ifstream captureFile(options.capturePath);
    if (!captureFile)
        return failure("cannot read " + options.capturePath, 2);
    Capture capture = readCapture(captureFile, options.shape);
    if (!capture.error.empty())
        return failure(options.capturePath + ": " + capture.error, 2);
    if (options.printFrames) {
        static const char digits[] = "0123456789ABCDEF";
        for (const auto& frame : capture.frames) {
            std::string line;
            for (uint8_t b : frame) {
                line += digits[b >> 4];
                line += digits[b & 15];
            }
            std::puts(line.c_str());
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    int logFd = -1;
    if (!options.logPath.empty()) {
        logFd = ::open(options.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (logFd < 0)
            return failure("cannot write " + options.logPath + ": " + std::strerror(errno), 2);
    }

    PseudoTerminal pty;
    if (!pty.open())
        return failure(pty.error(), 1);
    if (!options.link.empty()) {
        std::string error;
        if (!makeLink(options.link, pty.slavePath(), error))
            return failure(error, 2);
    }
    if (pipe(g_stopPipe) != 0)
        return failure(std::string("cannot make a pipe: ") + std::strerror(errno), 1);
    fcntl(g_stopPipe[1], F_SETFL, fcntl(g_stopPipe[1], F_GETFL) | O_NONBLOCK);
    installStopSignals();

    std::printf("%s\n", pty.slavePath().c_str());
    std::fflush(stdout);

    Simulator simulator(options, std::move(capture.frames), pty, g_stopPipe[0], logFd);
    simulator.run();

    if (simulator.pullOut()) {
        pty.close();
        if (!options.link.empty())
            unlink(options.link.c_str());
        waitUnlessStopped(500);
    }
    pty.close();
    if (!options.link.empty())
        unlink(options.link.c_str());
    if (logFd >= 0)
        ::close(logFd);
    std::fprintf(stderr, "frames sent: %ld\n", simulator.framesSent());
    return 0;
}
