// Results as JSON Lines, for scripts and tools such as jq: one object per found file
// with the fields of the plain listing and the full path, the time also in ISO 8601,
// and for a referral's result the referral's name. listresults -j and kolvocmd -j
// print them.
#pragma once

#include <string>
#include <string_view>

#include "app/search/kolvo_results.h"

// One line of JSON (no line feed): path, folder, name, rank, size, time (UTC, ISO 8601),
// seconds (since 1904, as the plain listing shows them), key and, for a key of a
// referral's result, referral.
std::string qvResultJson(const QvKolvoResult& result, const std::string& key);
// A JSON string in double quotes. Text that is no UTF-8 is taken as Latin-1, the
// index's own character set, so the line is always valid JSON.
std::string qvJsonString(std::string_view text);
