#include "headless_host.hpp"

#include <chrono>

#include "json.hpp"

namespace harnolfees::driver {

void EventOutput::Write(std::string_view jsonObject) {
  if (out_ == nullptr) return;
  out_->write(jsonObject.data(), static_cast<std::streamsize>(jsonObject.size()));
  out_->put('\n');
  out_->flush();
}

HeadlessHost::HeadlessHost(EventOutput& events, std::ostream* messageText)
    : events_(events), messageText_(messageText) {}

int HeadlessHost::MsgBox(const std::string& prompt, int buttons, const std::string& title) {
  ++messageCount_;
  int answer = msgbox::kAnswerOk;
  if ((buttons & 0x0F) == msgbox::kYesNo) {
    answer = msgbox::kAnswerNo;
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
  }
  if (events_.enabled()) {
    JsonBuilder j;
    j.BeginObject()
        .Field("event", "msgbox")
        .Field("prompt", prompt)
        .Field("buttons", buttons)
        .Field("title", title)
        .Field("answer", answer)
        .EndObject();
    events_.Write(j.str());
  }
  if (messageText_ != nullptr) {
    *messageText_ << (title.empty() ? std::string("HarnolFeesCenter") : title) << ": " << prompt
                  << '\n';
    messageText_->flush();
  }
  return answer;
}

void HeadlessHost::SetMousePointer(int pointer) {
  if (!events_.enabled()) return;
  JsonBuilder j;
  j.BeginObject().Field("event", "pointer").Field("value", pointer).EndObject();
  events_.Write(j.str());
}

void HeadlessHost::DoEvents() {
  // Waits on the queue's condition variable, so a caller looping on DoEvents
  // while a transfer runs sleeps instead of spinning.
  queue_.RunPending(std::chrono::milliseconds(20));
}

void HeadlessHost::ProcessPendingEvents() { queue_.RunPending(std::chrono::milliseconds(0)); }

void HeadlessHost::PostEvent(std::function<void()> event) { queue_.Post(std::move(event)); }

void HeadlessHost::FocusMoved(std::string_view component) {
  if (!events_.enabled()) return;
  JsonBuilder j;
  j.BeginObject().Field("event", "focus").Field("control", component).EndObject();
  events_.Write(j.str());
}

int HeadlessHost::RunPendingNow() {
  int total = 0;
  // Bounded, so that work that keeps posting more work cannot hold the script.
  for (int round = 0; round < 1000; ++round) {
    const int ran = queue_.RunPending(std::chrono::milliseconds(0));
    if (ran == 0) break;
    total += ran;
  }
  return total;
}

LoggingFetcher::LoggingFetcher(EventOutput& events, FetcherFactory factory)
    : events_(events), factory_(std::move(factory)) {}

void LoggingFetcher::Log(const std::string& url) {
  JsonBuilder j;
  j.BeginObject().Field("event", "get").Field("url", AddressWithoutCredentials(url)).EndObject();
  events_.Write(j.str());
  if (!inner_) inner_ = factory_();
}

std::string LoggingFetcher::Fetch(const std::string& url) {
  Log(url);
  return inner_->Fetch(url);
}

void LoggingFetcher::FetchInto(const std::string& url, Sink& sink) {
  Log(url);
  inner_->FetchInto(url, sink);
}

LoggingTransfer::LoggingTransfer(EventOutput& events, TransferFactory factory)
    : events_(events), factory_(std::move(factory)) {}

LoggingTransfer::~LoggingTransfer() {
  if (inner_) {
    inner_->onStateChanged = nullptr;
    inner_->Cancel();
  }
}

void LoggingTransfer::Cancel() {
  if (inner_) inner_->Cancel();
}

void LoggingTransfer::Execute(const std::string& url, const std::string& operation,
                              const std::string& body, const std::string& headers) {
  JsonBuilder j;
  if (operation == "Get" || operation == "GET" || operation == "get") {
    j.BeginObject().Field("event", "get").Field("url", AddressWithoutCredentials(url)).EndObject();
  } else {
    j.BeginObject()
        .Field("event", "post")
        .Field("url", AddressWithoutCredentials(url))
        .Field("body", body)
        .Field("header", headers)
        .EndObject();
  }
  events_.Write(j.str());
  if (!inner_) {
    inner_ = factory_();
    inner_->onStateChanged = [this](int state) {
      if (onStateChanged) onStateChanged(state);
    };
  }
  inner_->Execute(url, operation, body, headers);
}

bool LoggingTransfer::StillExecuting() const { return inner_ && inner_->StillExecuting(); }

std::string LoggingTransfer::GetChunk(std::size_t size) {
  return inner_ ? inner_->GetChunk(size) : std::string();
}

}  // namespace harnolfees::driver
