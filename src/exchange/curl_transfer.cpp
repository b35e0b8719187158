// The HTTP transfer component on libcurl. One worker thread owns one easy
// handle inside one multi handle for the component's whole life, so that
// consecutive statements reuse the same kept-alive connection. The
// user-interface thread only starts, cancels and reads; the worker reports
// the end of each transfer through the host's event queue.
#include <curl/curl.h>

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "exchange/encoding_detail.hpp"
#include "harnolfees/encoding.hpp"
#include "harnolfees/host.hpp"
#include "harnolfees/runtime.hpp"
#include "loading/load_document.hpp"

namespace harnolfees {
namespace {

// A reply larger than this is no error text of the server page; the transfer
// is abandoned as failed rather than filling memory.
constexpr std::size_t kMaxReplyBytes = 16u * 1024u * 1024u;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Job {
  std::uint64_t generation = 0;
  std::string url;
  bool post = true;
  std::string body;
  std::vector<std::string> headers;
};

struct Outcome {
  int state = Transfer::kStateError;
  std::string reply;  // kStateError: what failed, in words
};

class CurlTransfer;

// What the worker and the posted notifications share with the component.
// Notifications hold it weakly, so that one still queued when the component
// is gone finds no owner and does nothing.
struct Shared {
  std::mutex mutex;
  std::condition_variable cv;
  std::optional<Job> pending;
  bool stop = false;
  // Raised by every Execute and Cancel: a transfer or notification of an
  // older generation is stale.
  std::atomic<std::uint64_t> generation{0};
  std::atomic<bool> stopping{false};
  CurlTransfer* owner = nullptr;  // user-interface thread only
};

struct Receiving {
  std::string body;
  std::string statusLine;
  bool tooLarge = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* r = static_cast<Receiving*>(user);
  std::size_t n = size * count;
  if (r->body.size() + n > kMaxReplyBytes) {
    r->tooLarge = true;
    return 0;
  }
  r->body.append(data, n);
  return n;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* r = static_cast<Receiving*>(user);
  std::size_t n = size * count;
  std::string_view line(data, n);
  // The last status line wins: an interim "100 Continue" comes first.
  if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    r->statusLine.assign(line);
  }
  return n;
}

// "HTTP/1.1 500 Internal Server Error" gives "HTTP 500 Internal Server Error".
std::string StatusText(long code, const std::string& statusLine) {
  std::string text = "HTTP " + std::to_string(code);
  auto first = statusLine.find(' ');
  if (first != std::string::npos) {
    auto second = statusLine.find(' ', first + 1);
    if (second != std::string::npos) {
      std::string reason = statusLine.substr(second + 1);
      if (!reason.empty()) text += " " + reason;
    }
  }
  return text;
}

std::vector<std::string> SplitHeaders(const std::string& headers) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos <= headers.size()) {
    auto end = headers.find('\n', pos);
    if (end == std::string::npos) end = headers.size();
    std::string line = headers.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) out.push_back(std::move(line));
    pos = end + 1;
  }
  return out;
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

class CurlTransfer final : public Transfer {
 public:
  CurlTransfer(HostServices& host, NetworkTimeouts timeouts, std::string caFile)
      : host_(host),
        timeouts_(timeouts),
        caFile_(TrustedCaFile(caFile)),
        shared_(std::make_shared<Shared>()) {
    GlobalInit();
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    if (!multi_ || !easy_) {
      if (easy_) curl_easy_cleanup(easy_);
      if (multi_) curl_multi_cleanup(multi_);
      throw ControlError(0, "The HTTP transfer component could not be created.");
    }
    shared_->owner = this;
    worker_ = std::thread([this] { Run(); });
  }

  ~CurlTransfer() override {
    shared_->owner = nullptr;
    {
      std::lock_guard lock(shared_->mutex);
      shared_->stop = true;
      shared_->pending.reset();
    }
    shared_->stopping = true;
    shared_->generation.fetch_add(1);
    shared_->cv.notify_all();
    curl_multi_wakeup(multi_);
    worker_.join();
    curl_easy_cleanup(easy_);
    curl_multi_cleanup(multi_);
  }

  void Cancel() override {
    shared_->generation.fetch_add(1);
    {
      std::lock_guard lock(shared_->mutex);
      shared_->pending.reset();
    }
    curl_multi_wakeup(multi_);
    executing_ = false;
    reply_.clear();
    readPos_ = 0;
  }

  void Execute(const std::string& url, const std::string& operation, const std::string& body,
               const std::string& headers) override {
    // One transfer at a time: whatever runs is abandoned.
    std::uint64_t generation = shared_->generation.fetch_add(1) + 1;
    reply_.clear();
    readPos_ = 0;
    executing_ = true;
    bool post = SameWord(operation, "Post");
    if (!post && !SameWord(operation, "Get")) {
      // An operation the component does not offer fails like a network error.
      PostOutcome(generation, Outcome{kStateError, "The transfer has no operation " + operation});
      return;
    }
    {
      std::lock_guard lock(shared_->mutex);
      shared_->pending = Job{generation, url, post, body, SplitHeaders(headers)};
    }
    shared_->cv.notify_one();
    curl_multi_wakeup(multi_);
  }

  bool StillExecuting() const override { return executing_; }

  std::string GetChunk(std::size_t size) override {
    if (readPos_ >= reply_.size()) return {};
    std::string chunk = reply_.substr(readPos_, size);
    readPos_ += chunk.size();
    return chunk;
  }

  std::string ErrorDescription() const override { return error_; }

  void Deliver(std::uint64_t generation, Outcome outcome) {
    if (generation != shared_->generation.load()) return;
    if (outcome.state == kStateError) {
      error_ = std::move(outcome.reply);
      outcome.reply.clear();
    }
    reply_ = std::move(outcome.reply);
    readPos_ = 0;
    executing_ = false;
    if (!onStateChanged) return;
    try {
      onStateChanged(outcome.state);
    } catch (...) {
      // The handler's errors stay with it: the host's event loop goes on.
    }
  }

 private:
  bool Stale(std::uint64_t generation) const {
    return generation != shared_->generation.load() || shared_->stopping.load();
  }

  void PostOutcome(std::uint64_t generation, Outcome outcome) {
    std::weak_ptr<Shared> weak = shared_;
    host_.PostEvent([weak, generation, outcome = std::move(outcome)]() mutable {
      auto shared = weak.lock();
      if (!shared || !shared->owner) return;
      shared->owner->Deliver(generation, std::move(outcome));
    });
  }

  void Run() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(shared_->mutex);
        shared_->cv.wait(lock, [this] { return shared_->stop || shared_->pending.has_value(); });
        if (shared_->stop) return;
        job = std::move(*shared_->pending);
        shared_->pending.reset();
      }
      if (Stale(job.generation)) continue;
      try {
        Outcome outcome = Perform(job);
        if (Stale(job.generation)) continue;
        PostOutcome(job.generation, std::move(outcome));
      } catch (...) {
        // Out of memory while building the reply: the wait must still end.
        try {
          if (!Stale(job.generation)) {
            PostOutcome(job.generation,
                        Outcome{kStateError, "Out of memory while receiving the reply from " +
                                                 loading::RedactCredentials(job.url)});
          }
        } catch (...) {
          // Not even the error could be posted: this thread can report
          // nothing more, and staying alive for the next transfer is what
          // can still be kept. No data is held here to lose.
        }
      }
    }
  }

  Outcome Perform(const Job& job) {
    Receiving received;
    struct curl_slist* headerList = nullptr;
    for (const auto& h : job.headers) headerList = curl_slist_append(headerList, h.c_str());
    // No "Expect: 100-continue" round trip before larger statements.
    headerList = curl_slist_append(headerList, "Expect:");

    curl_easy_setopt(easy_, CURLOPT_URL, job.url.c_str());
    curl_easy_setopt(easy_, CURLOPT_CAINFO, caFile_.empty() ? nullptr : caFile_.c_str());
    if (job.post) {
      curl_easy_setopt(easy_, CURLOPT_POST, 1L);
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, job.body.data());
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(job.body.size()));
    } else {
      curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(timeouts_.connect.count()));
    curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts_.total.count()));
    curl_easy_setopt(easy_, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, &received);
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, detail);

    CURLcode result = CURLE_OK;
    bool finished = false;
    bool abandoned = false;
    if (curl_multi_add_handle(multi_, easy_) == CURLM_OK) {
      for (;;) {
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) break;
        if (running == 0) {
          int queued = 0;
          while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_) {
              result = msg->data.result;
              finished = true;
            }
          }
          break;
        }
        if (Stale(job.generation)) {
          abandoned = true;
          break;
        }
        // Sleeps until the socket is ready, a Cancel wakes it, or a second
        // passes; curl's own time-outs are checked on every round.
        curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        if (Stale(job.generation)) {
          abandoned = true;
          break;
        }
      }
      curl_multi_remove_handle(multi_, easy_);
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, nullptr);
    curl_slist_free_all(headerList);

    Outcome outcome;  // state 11
    if (abandoned || !finished || result != CURLE_OK) {
      std::string why = received.tooLarge ? "the reply is larger than the transfer accepts"
                        : detail[0]       ? std::string(detail)
                        : finished        ? std::string(curl_easy_strerror(result))
                                          : std::string("the transfer did not complete");
      outcome.reply = loading::ScrubCredentials(
          "Could not reach " + loading::RedactCredentials(job.url) + ": " + why, job.url);
      return outcome;
    }
    long code = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    std::string text;
    if (code == 200) {
      text = std::move(received.body);
    } else {
      // Anything but 200 is a failure, also with an empty body: the status
      // line makes sure that the reply is never empty.
      text = StatusText(code, received.statusLine) + "\r\n" + received.body;
    }
    // The server page answers in its own code page; a reply that is not
    // UTF-8 already is taken as Windows-1252.
    if (!detail::IsValidUtf8(text)) text = Windows1252ToUtf8(text);
    outcome.state = kStateResponseCompleted;
    outcome.reply = std::move(text);
    return outcome;
  }

  HostServices& host_;
  NetworkTimeouts timeouts_;
  std::string caFile_;
  std::shared_ptr<Shared> shared_;
  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  std::thread worker_;
  // User-interface thread only.
  bool executing_ = false;
  std::string reply_;
  std::size_t readPos_ = 0;
  std::string error_;
};

}  // namespace

std::string TrustedCaFile(const std::string& caFile) {
  if (!caFile.empty()) return caFile;
  const char* named = std::getenv("HARNOLFEES_CA_FILE");
  return named ? std::string(named) : std::string();
}

std::unique_ptr<Transfer> MakeCurlTransfer(HostServices& host, NetworkTimeouts timeouts,
                                           std::string caFile) {
  return std::make_unique<CurlTransfer>(host, timeouts, std::move(caFile));
}

}  // namespace harnolfees
