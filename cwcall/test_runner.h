// test_runner.h - `cwcall test`: replays scenario files (.cwt) against
// Cardwright and reports what passed.
#pragma once

#include "command_line.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace cwcall {

struct TestOptions : Connection {
    QStringList variables; // VAR=VALUE, as given
    std::optional<QString> junit, json;
    bool tap = false;
    bool update = false;
    int32_t repeat = 1;
    int32_t jobs = 1;
    bool help = false;
    QStringList files;
};

// Reads argv[2..] (argv[1] is "test"). Raises UsageError.
TestOptions parseTestCommandLine(int argc, char** argv);

QString testUsageText();

// The whole of `cwcall test`; argv[1] is "test". The exit status: 0 all
// passed, 1 a check failed, 2 usage or scenario error (nothing sent), 3
// Cardwright could not be reached at all.
int runTests(int argc, char** argv);

} // namespace cwcall
