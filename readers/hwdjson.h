// JSON and table forms of decoded calls and of the rebuilt hardware state.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "hwdecode.h"

nlohmann::json hwdPathJson(int family, const HwdPath& p);
nlohmann::json hwdCallJson(const HwdCall& call);
nlohmann::json hwdStateJson(const HwdState& s);
// The state as a readable table, one entry per line.
std::string hwdStateText(const HwdState& s);
