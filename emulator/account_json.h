// The account as JSON, for the state a restarted emulator reads back (Emulator::state). Every
// field of the account's structures is named here: a field added to them joins the state by being
// added to its structure's list below.
#pragma once

#include <nlohmann/json.hpp>

#include "emulator/emulator.h"

namespace emulator {

nlohmann::json accountToJSON(const Account& account);
// Throws nlohmann::json::exception for a document that is not an account.
Account accountFromJSON(const nlohmann::json& document);

}  // namespace emulator
