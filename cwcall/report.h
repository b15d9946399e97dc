// report.h - what `cwcall test` found, and its reports: the plain lines, TAP
// version 14, JUnit XML and JSON.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cwcall {

// One call as it was made (or not: `sent` false when its words could not
// be built, e.g. a variable its capture did not set).
struct CallResult {
    int32_t file = 0; // index into the run's files
    int32_t line = 0;
    QString method;
    QStringList words; // after substitution
    bool sent = false;
    QString outcome;       // short: "3 entries", "accepted", "= 5", "error 6: ..."
    int32_t errorCode = 0; // the library's code when it failed
    bool failedCall = false;
    QStringList failures; // "FILE:LINE: ..." lines
    QStringList diff;     // list results: unified diff lines
    int64_t micros = 0;
    int32_t process = 0; // 0 .. jobs-1
    int32_t round = 0;   // 0 .. repeat-1
    bool passed() const { return failures.isEmpty(); }
};

struct RunResult {
    QStringList files;
    std::vector<CallResult> calls;
    double seconds = 0; // wall time of the whole run
    int32_t jobs = 1, repeat = 1;
};

// "ok FILE:LINE METHOD WORDS (1.2 ms)" or "FAIL ..." followed by its
// failures and diff, indented; LF-terminated, in UTF-8 (it is printed as
// each call ends, and made in the bytes it is printed in).
std::string plainCall(const RunResult& run, const CallResult& call);
// "N calls, P passed, F failed in T s", and with several jobs or rounds the
// calls per second and per-method percentiles; LF-terminated lines.
QString plainSummary(const RunResult& run);

QString tapReport(const RunResult& run);
QString junitReport(const RunResult& run);
QString jsonReport(const RunResult& run);

// Nearest-rank percentile (0 < p <= 100) of sorted values; 0 for none.
int64_t percentile(const std::vector<int64_t>& sorted, double p);

} // namespace cwcall
