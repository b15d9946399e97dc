// cardwright-sim's log: one line per event on stderr, each starting
// "cardwright-sim: ".
//
// A line per call is written in batches (at most every 50 ms under load,
// at once when the log is quiet): one write(2) per call cost a good share of
// a short call, and a stderr that nobody reads (a full pipe) held up every
// call. Other lines, and a flush, are written before the call returns, behind
// everything logged before them.
#pragma once

#include <string_view>

namespace cwsim::log {

// Written before this returns.
void line(std::string_view text);

// Written within 50 ms. While stderr is blocked, at most 1 MiB
// waits; what comes beyond it is dropped, and counted in the next line written.
void soon(std::string_view text);

// Everything logged so far is written.
void flush();

} // namespace cwsim::log
