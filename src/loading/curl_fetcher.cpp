// The synchronous fetch of the load document, through libcurl.
#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "harnolfees/host.hpp"
#include "harnolfees/runtime.hpp"
#include "loading/load_document.hpp"

namespace harnolfees {

namespace {

// A larger reply is refused rather than allowed to exhaust the memory of the
// host; a schedule of 100,000 records is about 20 MB.
constexpr curl_off_t kMaxDocumentBytes = curl_off_t{1} << 30;

void EnsureCurlReady() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
  CURL* handle = nullptr;
  std::string body;
  bool sized = false;
};

std::size_t Receive(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::size_t bytes = size * count;
  try {
    if (!sink->sized) {
      // Reserving the announced length up front keeps a large document from
      // being copied over and over as it grows.
      sink->sized = true;
      curl_off_t length = -1;
      if (curl_easy_getinfo(sink->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) ==
              CURLE_OK &&
          length > 0 && length <= kMaxDocumentBytes) {
        sink->body.reserve(static_cast<std::size_t>(length));
      }
    }
    sink->body.append(data, bytes);
  } catch (...) {
    return 0;  // ends the transfer with a write error
  }
  return bytes;
}

std::string Seconds(std::chrono::milliseconds ms) {
  if (ms.count() % 1000 == 0) return std::to_string(ms.count() / 1000) + " s";
  return std::to_string(ms.count()) + " ms";
}

class CurlFetcher final : public DocumentFetcher {
 public:
  explicit CurlFetcher(NetworkTimeouts timeouts) : timeouts_(timeouts) {}

  std::string Fetch(const std::string& url) override {
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
    Sink sink;
    sink.handle = h;
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Receive);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts_.total.count()));
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https,file");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, kMaxDocumentBytes);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "HarnolFeesCenter/2");

    const CURLcode rc = curl_easy_perform(h);
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
          throw fail("the document is larger than " +
                     std::to_string(kMaxDocumentBytes / (1024 * 1024)) + " MB");
        case CURLE_WRITE_ERROR:
          throw fail("there is not enough memory to receive the document");
        case CURLE_UNSUPPORTED_PROTOCOL:
          throw fail("only http, https and file addresses can be loaded (" + said + ")");
        default:
          throw fail(said);
      }
    }
    const char* scheme = nullptr;
    curl_easy_getinfo(h, CURLINFO_SCHEME, &scheme);
    const std::string protocol = scheme ? scheme : "";
    if (protocol == "HTTP" || protocol == "HTTPS" || protocol == "http" || protocol == "https") {
      long status = 0;
      curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
      if (status != 200) {
        throw fail("the server answered with HTTP status " + std::to_string(status) +
                   " instead of the document");
      }
    }
    if (sink.body.empty()) {
      throw fail(protocol == "FILE" || protocol == "file" ? "the file is empty"
                                                          : "the server sent an empty reply");
    }
    return std::move(sink.body);
  }

 private:
  NetworkTimeouts timeouts_;
};

}  // namespace

std::unique_ptr<DocumentFetcher> MakeCurlFetcher(NetworkTimeouts timeouts) {
  return std::make_unique<CurlFetcher>(timeouts);
}

}  // namespace harnolfees
