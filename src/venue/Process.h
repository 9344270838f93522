#pragma once
// Other programs the venue set-up runs (openssl, mosquitto_passwd,
// mosquitto): started without a shell, their output kept, never waited on
// without a limit.

#include <chrono>
#include <string>
#include <vector>

namespace ktv::venue {

struct ProcessResult {
    int Status = -1;      // the exit status; -1: it could not start or was killed at the limit
    std::string Output;   // standard output and error together
    bool TimedOut = false;
};

// Runs argv (argv[0] looked up in PATH) with no input, waiting at most `limit`.
ProcessResult RunProgram(const std::vector<std::string>& argv,
                         std::chrono::milliseconds limit = std::chrono::seconds(60));

// Whether `program` is found in PATH.
bool HaveProgram(const std::string& program);

} // namespace ktv::venue
