// Generated people for a design's roster ("generate = N" in [Design]).
#pragma once

#include "design.h"
#include "roster.h"

namespace cwsim {

// Adds `count` people in one transaction, filling each data field from its
// `sample` generator (pictures are drawn unless the field says "none").
void generatePeople(const Design& design, Roster& roster, int count);

}  // namespace cwsim
