// The dump event: the control's whole state as one JSON object.
#pragma once

#include <string>

#include "harnolfees/control.hpp"

namespace harnolfees::driver {

// {"event":"dump","control":{...},"widgets":{...},"recordsets":{...}}.
// Reads only: no cursor, filter or sort of any record set moves.
std::string DumpEvent(const HarnolFeesCtlCenter& control);

// One record-set value as JSON: null, a number (money exact, singles by their
// shortest text), "yyyy-mm-ddThh:mm:ss" for dates, a string, or a boolean.
void AppendJsonValue(std::string& out, const Value& value);

}  // namespace harnolfees::driver
