// The per-picture report of a stack, as CSV.
#pragma once

#include <string>
#include <vector>

#include "stack/stack_file.h"

// The report as CSV: a header line, then per picture its path, dx, dy (3 decimals), "used" or
// "rejected", and the reason; always UTF-8 (EscapeToUtf8).
std::string StackReportCsv(const std::vector<CStackFile>& files);
// `text` as valid UTF-8: well-formed sequences stay, every other byte becomes "\xHH" (two
// upper-case hex digits) and a backslash "\\", so the bytes can be had back.
std::string EscapeToUtf8(const std::string& text);
