// What a host needs to know of a member beyond its name, because IDispatch does not say,
// read from the Mime object's member table: in which form the member reads its string
// arguments and writes its string result, and whether its long result is a success flag.
#pragma once

#include <string>

// True when the member converts its string arguments to the UTF-8 form (file names, body
// texts, header field names and values); the others read them in the ANSI form.
bool takesUtf8Text(const std::string& member);
// True when the member's string result is made from the UTF-8 form (the header field
// getters); the others give the ANSI form.
bool givesUtf8Text(const std::string& member);
// True when the member's long result is 1 for success and 0 for failure, rather than a
// count or a yes/no answer.
bool hasSuccessFlag(const std::string& member);
