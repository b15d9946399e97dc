// Generated people for a design's roster ("generate = N" in [Design]).
#pragma once

#include "design.h"
#include "roster.h"

#include <functional>

namespace cwsim {

// Adds `count` people in one transaction, filling each data field from its
// `sample` generator (pictures are drawn unless the field says "none").
// When `cancelled` turns true it stops and the transaction is rolled back.
void generatePeople(const Design& design, Roster& roster, int count,
                    const std::function<bool()>& cancelled = {});

} // namespace cwsim
