#pragma once

#include "safe_file.h"

#include <string>

namespace palvero::central {

// What a talk with the central database met. `detail` is the server's or the network's own
// text, for the message and the log; the kinds are what the windows tell apart.
struct Outcome {
    enum class Kind {
        Ok,
        NotConfigured,  // no central database in the settings
        NeedsPassword,  // the server asks for a password and none was given
        WrongPassword,
        Unreachable,    // no connection, or the connection was lost
        NotSetUp,       // the database lacks the schema, or an older one
        NotAnOperator,  // the role is not listed among the operators
        Refused,        // row-level security or privileges said no
        ServerError,
        FileError,      // the outbox, meters.mrv or another local file
        Cancelled,
        BadInput,       // a CSV line, a date or an option that cannot be used
    };

    Kind kind = Kind::Ok;
    std::string detail;
    // For a FileError that a write met: why (a full disk is told as such).
    WriteFailure cause = WriteFailure::None;

    bool ok() const { return kind == Kind::Ok; }
    static Outcome failed(Kind kind, std::string detail) { return {kind, std::move(detail)}; }
    static Outcome fileFailed(const WriteOutcome& write) { return {Kind::FileError, write.error, write.failure}; }
};

} // namespace palvero::central
