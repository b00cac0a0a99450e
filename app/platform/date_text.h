// Dates as the user types and reads them: the date parser behind the "onOrAfter" and
// "onOrBefore" criteria and the short date form they are shown in. Local time; the
// numbers are seconds since 1904-01-01 00:00 UTC, as everywhere in the program.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Accepts "YYYY-MM-DD" or "YYYY/MM/DD", optionally followed by "HH:MM" or "HH:MM:SS"
// (after a blank or "T"). None for anything else or for a date that does not exist.
std::optional<double> qvParseDate(std::string_view text);

// The short date form "YYYY-MM-DD" of a time, in local time; qvParseDate reads it back.
std::string qvShortDate(double secondsSince1904);
