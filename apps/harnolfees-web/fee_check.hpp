// Sign-in against the fee server itself: its users and rights decide, the
// browser editor keeps no copy of them.
#pragma once

#include <string>

namespace harnolfees::web {

enum class SignInResult { Ok, BadSignIn, Refused, Braked, Unreachable };

struct CenterCheck {
  SignInResult result = SignInResult::Unreachable;
  std::string detail;  // what failed, for Unreachable
};

// Asks the fee server for the head of `center`'s document with the user's
// credentials: 401 is a wrong sign-in, 403 a center the user may not read.
CenterCheck CheckCenter(const std::string& feeServer, const std::string& user,
                        const std::string& password, int center);

// The address prefix with "user:password@" put in, each percent-encoded.
std::string AddressWithCredentials(const std::string& feeServer, const std::string& user,
                                   const std::string& password);

}  // namespace harnolfees::web
