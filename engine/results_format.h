// The history as the routes and the CLI print it: JSON ({"tests": [...]}), CSV, and the
// parts they share.
#pragma once

#include "engine/test_result.h"

#include <string>
#include <vector>

// The time as ISO 8601 in UTC with milliseconds, "2026-12-07T20:30:05.123Z".
std::string FormatIsoTime(double dUnixSeconds);
// {"tests": [...]}: each test an object with the fields time, peer, kind, direction,
// seconds, recv_bytes, send_bytes, recv_MBps, send_MBps and latency_ms (an object or null).
std::string FormatResultsJson(const std::vector<CTestResult>& vecResults);
// A header line, then one line per test; the latency object as one quoted field.
std::string FormatResultsCsv(const std::vector<CTestResult>& vecResults);

// Reads a flat JSON object of numbers (or nulls, which are dropped), keeping only the
// keys in the list, each as a finite number from 0 to 1e9. Gives the object written back
// in a fixed form, or empty when the text is not such an object or keeps nothing.
std::string SanitizeLatencyJson(const std::string& strText);
