// Load documents of any bytes: LoadData must end every load with the default
// pointer and at most one message box, and must neither crash nor leak.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "harnolfees/control.hpp"

namespace {

using namespace harnolfees;

class QuietHost final : public HostServices {
 public:
  int messages = 0;
  int pointer = -1;
  int MsgBox(const std::string&, int, const std::string&) override {
    ++messages;
    return msgbox::kAnswerOk;
  }
  void SetMousePointer(int p) override { pointer = p; }
  void DoEvents() override {}
  void PostEvent(std::function<void()>) override {}
};

class IdleTransfer final : public Transfer {
 public:
  void Cancel() override {}
  void Execute(const std::string&, const std::string&, const std::string&,
               const std::string&) override {}
  bool StillExecuting() const override { return false; }
  std::string GetChunk(std::size_t) override { return {}; }
};

class BytesFetcher final : public DocumentFetcher {
 public:
  std::string bytes;
  std::string Fetch(const std::string&) override { return bytes; }
};

struct Harness {
  QuietHost host;
  BytesFetcher* fetcher = nullptr;
  std::unique_ptr<HarnolFeesCtlCenter> control;
  int loads = 0;

  void Renew() {
    control.reset();
    auto fetch = std::make_unique<BytesFetcher>();
    fetcher = fetch.get();
    control = std::make_unique<HarnolFeesCtlCenter>(host, std::make_unique<IdleTransfer>(),
                                                    std::move(fetch));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  // The lists that loads only append to are started afresh now and then.
  if (harness.loads++ % 256 == 0) harness.Renew();
  harness.fetcher->bytes.assign(reinterpret_cast<const char*>(data), size);
  harness.host.messages = 0;

  harness.control->LoadData("http://fuzz.example/", 12, "3/15/2004");

  if (harness.host.pointer != pointer::kDefault) __builtin_trap();
  if (harness.host.messages > 1) __builtin_trap();
  return 0;
}
