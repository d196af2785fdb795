// The tools' side of the daemon's read-only export (management socket).
#pragma once

#include <map>
#include <string>
#include <vector>

// Sends one export request and collects the streamed lines (without the
// first and last marker lines). False with a one-line reason.
bool hwdNmExport(const std::string& socketPath, uint32_t what, int timeoutSec, std::vector<std::string>* lines,
                 std::string* err);

// "kind a=1 b=x label=rest of line": the first word in "kind", every
// key=value after it; a "label" value runs to the end of the line.
std::map<std::string, std::string> hwdExportFields(const std::string& line);
