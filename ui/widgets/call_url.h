// The app's own call URL that a contact card's "Call" opens for a phone number: the number reduced
// to the dialled characters and encoded as a query value (a "#" would otherwise end the query and
// a "+" read as a space), with the call method when the dial pad is skipped.
#pragma once

#include <string>

class HX_Account;

// "hxconnect://call?number=<n>&callmethod=<m>" when the dial pad is skipped, else
// "hxconnect://call?<n>".
std::string hxCallURLForNumber(const std::string& number, bool skipDialpad, const std::string& methodName);
// The call method the URL names for the account: the name of the method whose phone is the one
// calls are forwarded to ("" for none), the direct call and the phone's own dialer by their keys.
std::string hxCallMethodParameter(const HX_Account* account);
