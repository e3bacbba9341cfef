// The common check of a JSON reply of the service: true for {"ok": true} or an array; anything
// else is a refusal shown to the user with the service's own message.
#pragma once

#include <string>
#include <string_view>

class HXApplicationWebClient;

// The message a refusal shows ("An unknown error occurred", the service's unescaped "error" >
// "message", or "Invalid Number" for "data" > "code" 1); empty when the reply is no refusal.
std::string HXRefusalMessage(std::string_view text);
// Empty text: false and nothing shown. A refusal: the "Error" alert, asynchronously on the main
// queue, and false.
bool HXCheckResponse(HXApplicationWebClient& app, std::string_view text);
