#pragma once

#include <filesystem>
#include <string>

namespace palvero::central {

// The laptop's keys for the central database, in the program's own section "Palvero" of
// the settings file. No password is ever kept there: libpq's password file holds it, or
// the operator is asked once per run.
//   CentralDatabase=palvero                  a libpq service name, or a connection string
//   CentralSendOnStop=1                      send the outbox at every Stop and at exit
//   CentralLaptop=laptop-7                   the laptop's name in the readings (default:
//                                            the computer's host name)
struct CentralConfig {
    std::string database;
    bool sendOnStop = false;
    std::string laptop;

    bool configured() const { return !database.empty(); }
};

inline constexpr char kCentralSection[] = "Palvero";

CentralConfig readCentralConfig(const std::filesystem::path& iniFile);

} // namespace palvero::central
