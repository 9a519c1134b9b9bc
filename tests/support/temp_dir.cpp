#include "temp_dir.h"

#include <atomic>
#include <cctype>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace palvero::test {

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto name = "palvero-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-"
            + std::to_string(rd() % 100000);
        m_path = base / name;
        if (std::filesystem::create_directory(m_path))
            break;
    }
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string readFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& p, const std::string& content)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
}

std::vector<uint8_t> fromHex(const std::string& hex)
{
    std::vector<uint8_t> out;
    int nibble = -1;
    for (char ch : hex) {
        if (std::isspace(static_cast<unsigned char>(ch)))
            continue;
        int v = std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0'
            : (ch >= 'a' && ch <= 'f')                        ? ch - 'a' + 10
            : (ch >= 'A' && ch <= 'F')                        ? ch - 'A' + 10
                                                              : -1;
        if (v < 0)
            throw std::invalid_argument("not a hex digit in test data");
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<uint8_t>(nibble * 16 + v));
            nibble = -1;
        }
    }
    return out;
}

} // namespace palvero::test
