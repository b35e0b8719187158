#include "fee_check.hpp"

#include <curl/curl.h>

#include <memory>

#include "harnolfees/host.hpp"

namespace harnolfees::web {

namespace {

std::string PercentEncode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace

std::string AddressWithCredentials(const std::string& feeServer, const std::string& user,
                                   const std::string& password) {
  const std::string bare = AddressWithoutCredentials(feeServer);
  const auto scheme = bare.find("://");
  if (scheme == std::string::npos) return bare;
  return bare.substr(0, scheme + 3) + PercentEncode(user) + ":" + PercentEncode(password) + "@" +
         bare.substr(scheme + 3);
}

CenterCheck CheckCenter(const std::string& feeServer, const std::string& user,
                        const std::string& password, int center) {
  CenterCheck check;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    check.detail = "no transfer could be started";
    return check;
  }
  const std::string url =
      AddressWithoutCredentials(feeServer) + "TermFeesAX.asp?Center=" + std::to_string(center);
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
  curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
  curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, 10'000L);
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, 30'000L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  const std::string ca = TrustedCaFile();
  if (!ca.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, ca.c_str());
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  const CURLcode rc = curl_easy_perform(h);
  if (rc != CURLE_OK) {
    check.detail = "Could not reach " + url + ": " + (error[0] ? error : curl_easy_strerror(rc));
    return check;
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  switch (status) {
    case 200:
      check.result = SignInResult::Ok;
      break;
    case 401:
      check.result = SignInResult::BadSignIn;
      break;
    case 403:
      check.result = SignInResult::Refused;
      break;
    case 429:
      check.result = SignInResult::Braked;
      break;
    default:
      check.detail = url + " answered " + std::to_string(status);
  }
  return check;
}

}  // namespace harnolfees::web
