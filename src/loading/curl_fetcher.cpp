// The synchronous fetch of the load document, through libcurl.
#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <string_view>

#include "harnolfees/host.hpp"
#include "harnolfees/runtime.hpp"
#include "loading/load_document.hpp"

namespace harnolfees {

namespace {

void EnsureCurlReady() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Delivery {
  CURL* handle = nullptr;
  DocumentFetcher::Sink* sink = nullptr;
  bool started = false;
  bool passOn = true;        // a reply that is not the document is not handed on
  std::size_t received = 0;  // after decoding
  std::size_t limit = 0;
  bool tooLarge = false;
  std::exception_ptr failure;  // what the sink threw
};

bool IsHttp(CURL* handle) {
  const char* scheme = nullptr;
  curl_easy_getinfo(handle, CURLINFO_SCHEME, &scheme);
  const std::string protocol = scheme ? scheme : "";
  return protocol == "HTTP" || protocol == "HTTPS" || protocol == "http" || protocol == "https";
}

std::size_t Receive(char* data, std::size_t size, std::size_t count, void* user) {
  auto* delivery = static_cast<Delivery*>(user);
  const std::size_t bytes = size * count;
  try {
    if (!delivery->started) {
      delivery->started = true;
      if (IsHttp(delivery->handle)) {
        long status = 0;
        curl_easy_getinfo(delivery->handle, CURLINFO_RESPONSE_CODE, &status);
        // An error page is not read as a schedule; the fetch fails on its
        // status once the transfer ends.
        delivery->passOn = status == 200;
      }
      // The length of a compressed body says nothing of what it unpacks to;
      // reserving room for it would only make the sink grow in worse steps.
      curl_header* encoding = nullptr;
      const bool packed = curl_easy_header(delivery->handle, "Content-Encoding", 0, CURLH_HEADER,
                                           -1, &encoding) == CURLHE_OK;
      curl_off_t length = -1;
      if (delivery->passOn && !packed &&
          curl_easy_getinfo(delivery->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) ==
              CURLE_OK &&
          length > 0 && static_cast<std::uint64_t>(length) <= delivery->limit) {
        delivery->sink->Expect(static_cast<std::size_t>(length));
      }
    }
    // Counted after decoding: a small compressed reply, or one without a
    // length, may still unfold into more than the host can hold.
    if (bytes > delivery->limit - delivery->received) {
      delivery->tooLarge = true;
      return 0;  // ends the transfer with a write error
    }
    delivery->received += bytes;
    if (delivery->passOn) delivery->sink->Receive(std::string_view(data, bytes));
  } catch (...) {
    delivery->failure = std::current_exception();
    return 0;  // ends the transfer with a write error
  }
  return bytes;
}

// Collects the body for Fetch.
class Collector final : public DocumentFetcher::Sink {
 public:
  void Expect(std::size_t bytes) override { body.reserve(bytes); }
  void Receive(std::string_view bytes) override { body.append(bytes); }
  std::string body;
};

std::string Seconds(std::chrono::milliseconds ms) {
  if (ms.count() % 1000 == 0) return std::to_string(ms.count() / 1000) + " s";
  return std::to_string(ms.count()) + " ms";
}

// 1073741824 gives "1024 MB", 1536 gives "1536 bytes".
std::string Size(std::size_t bytes) {
  constexpr std::size_t kMiB = 1024 * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MB";
  return std::to_string(bytes) + " bytes";
}

class CurlFetcher final : public DocumentFetcher {
 public:
  CurlFetcher(NetworkTimeouts timeouts, std::size_t maxDocumentBytes, std::string caFile)
      : timeouts_(timeouts), limit_(maxDocumentBytes), caFile_(TrustedCaFile(caFile)) {}

  std::string Fetch(const std::string& url) override {
    Collector collector;
    FetchInto(url, collector);
    return std::move(collector.body);
  }

  void FetchInto(const std::string& url, Sink& sink) override {
    const std::string shown = loading::RedactCredentials(url);
    auto fail = [&](const std::string& why) -> ControlError {
      return ControlError(errc::kDocument,
                          "The fee schedule could not be loaded from " + shown + ": " + why + ".");
    };
    EnsureCurlReady();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(),
                                                               &curl_easy_cleanup);
    if (!handle) throw fail("the transfer library could not start a request");
    CURL* h = handle.get();
    Delivery delivery;
    delivery.handle = h;
    delivery.sink = &sink;
    delivery.limit = limit_;
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Receive);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &delivery);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts_.total.count()));
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https,file");
    if (!caFile_.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, caFile_.c_str());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limit_));
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "HarnolFeesCenter/2");

    const CURLcode rc = curl_easy_perform(h);
    const std::string tooLarge = "the document is larger than " + Size(limit_) +
                                 " (counted as it unpacks); the schedule shown is unchanged";
    if (delivery.tooLarge) throw fail(tooLarge);
    if (rc == CURLE_WRITE_ERROR && delivery.failure) {
      try {
        std::rethrow_exception(delivery.failure);
      } catch (const std::bad_alloc&) {
        throw fail("there is not enough memory to receive the document");
      }
    }
    if (rc != CURLE_OK) {
      std::string said =
          loading::ScrubCredentials(detail[0] ? detail : curl_easy_strerror(rc), url);
      switch (rc) {
        case CURLE_OPERATION_TIMEDOUT:
          throw fail("the request timed out (connect time-out " + Seconds(timeouts_.connect) +
                     ", total time-out " + Seconds(timeouts_.total) + "; " + said + ")");
        case CURLE_COULDNT_CONNECT:
          throw fail("the server refused the connection or cannot be reached (" + said + ")");
        case CURLE_COULDNT_RESOLVE_HOST:
          throw fail("the server's name is not known (" + said + ")");
        case CURLE_FILESIZE_EXCEEDED:
          throw fail(tooLarge);
        case CURLE_WRITE_ERROR:
          throw fail("there is not enough memory to receive the document");
        case CURLE_UNSUPPORTED_PROTOCOL:
          throw fail("only http, https and file addresses can be loaded (" + said + ")");
        default:
          throw fail(said);
      }
    }
    const bool http = IsHttp(h);
    if (http) {
      long status = 0;
      curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
      if (status != 200) {
        throw fail("the server answered with HTTP status " + std::to_string(status) +
                   " instead of the document");
      }
    }
    if (delivery.received == 0) {
      throw fail(http ? "the server sent an empty reply" : "the file is empty");
    }
  }

 private:
  NetworkTimeouts timeouts_;
  std::size_t limit_;
  std::string caFile_;
};

}  // namespace

std::unique_ptr<DocumentFetcher> MakeCurlFetcher(NetworkTimeouts timeouts,
                                                 std::size_t maxDocumentBytes, std::string caFile) {
  return std::make_unique<CurlFetcher>(timeouts, maxDocumentBytes, std::move(caFile));
}

}  // namespace harnolfees
