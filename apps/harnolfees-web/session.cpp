#include "session.hpp"

#include <sys/random.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "fee_check.hpp"
#include "harnolfees/catalogue.hpp"
#include "json.hpp"
#include "show.hpp"

namespace harnolfees::web {

using driver::JsonBuilder;

namespace {

std::string IsoDate(const DateTime& d) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.Year(), d.Month(), d.Day());
  return text;
}

std::string TabName(int tab) {
  if (tab < 1 || tab > kTabCount) return {};
  std::string caption = FeeTab(tab).caption;
  while (!caption.empty() && caption.back() == ' ') caption.pop_back();
  return caption;
}

bool Overlap(const TwipsRect& a, const TwipsRect& b) {
  return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
         b.top < a.top + a.height;
}

void RectJson(JsonBuilder& j, const TwipsRect& r) {
  j.Key("rect").BeginArray().Int(r.left).Int(r.top).Int(r.width).Int(r.height).EndArray();
}

// The control's transfer, let go of once its reply has been read. A desktop
// editor keeps its one connection to the fee server alive between saves; a
// web host with hundreds of controls would keep hundreds of idle
// connections, and a fee server that gives each connection a thread of a
// small pool would have none left for the saves that come.
class ReleasingTransfer : public Transfer {
 public:
  explicit ReleasingTransfer(HostServices& host) : host_(host) {}
  void Cancel() override {
    if (inner_) inner_->Cancel();
  }
  void Execute(const std::string& url, const std::string& operation, const std::string& body,
               const std::string& headers) override {
    inner_ = MakeCurlTransfer(host_);
    inner_->onStateChanged = [this](int state) {
      if (onStateChanged) onStateChanged(state);
    };
    inner_->Execute(url, operation, body, headers);
  }
  bool StillExecuting() const override { return inner_ && inner_->StillExecuting(); }
  std::string GetChunk(std::size_t size) override {
    if (!inner_) return {};
    std::string chunk = inner_->GetChunk(size);
    if (chunk.empty() && !inner_->StillExecuting()) {
      // The whole reply is read: closing now frees the server's thread.
      error_ = inner_->ErrorDescription();
      inner_.reset();
    }
    return chunk;
  }
  std::string ErrorDescription() const override {
    return inner_ ? inner_->ErrorDescription() : error_;
  }

 private:
  HostServices& host_;
  std::unique_ptr<Transfer> inner_;
  std::string error_;
};

int DefaultAnswer(int buttons) {
  return (buttons & 0x0F) == msgbox::kYesNo ? msgbox::kAnswerNo : msgbox::kAnswerOk;
}

}  // namespace

// ---- Session ----

Session::Session(std::string id, std::string csrf, std::string user, std::string password,
                 int center, SessionConfig config)
    : id_(std::move(id)),
      csrf_(std::move(csrf)),
      user_(std::move(user)),
      password_(std::move(password)),
      center_(center),
      config_(std::move(config)) {
  Touch();
  thread_ = std::thread([this] { Run(); });
}

Session::~Session() { Close(); }

void Session::Close() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  stopping_ = true;
  queue_.Post(nullptr);  // wakes the loop
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Session::Run() {
  control_ = std::make_unique<HarnolFeesCtlCenter>(static_cast<HostServices&>(*this),
                                                   std::make_unique<ReleasingTransfer>(*this));
  Surface& s = control_->surface();
  gridObserver_ = s.grdFees.Observe([this](const Component&, std::string_view property) {
    if (property == "Rows" || property == "Cols" || property == "TextMatrix" ||
        property == "ColWidth")
      gridDirty_ = true;
  });
  // A combo box or date picker drawn where a text box stands covers it.
  const std::vector<const Component*> covering{
      &s.cboTerm,        &s.cboType,         &s.cboBitwise,   &s.cboAPRType,
      &s.cboAccessLevel, &s.cboBanckAccType, &s.DTPicker1[1], &s.DTPicker1[2]};
  overlays_.assign(8, {});
  for (std::size_t i = 1; i < 8; ++i)
    for (const Component* c : covering)
      if (Overlap(c->Rect(), s.txtField[i].Rect())) overlays_[i].push_back(c);
  control_->SetViewMode(config_.viewMode);
  Publish();
  while (!stopping_) {
    try {
      if (queue_.RunPending(std::chrono::milliseconds(1000)) > 0) Publish();
    } catch (const std::exception& e) {
      MsgBox(e.what(), msgbox::kOk, "");
    }
  }
  s.grdFees.Unobserve(gridObserver_);
  control_.reset();  // tear-down, on the thread that ran the control
}

std::shared_ptr<Session::Ticket> Session::Post(Action action) {
  auto ticket = std::make_shared<Ticket>();
  queue_.Post([this, ticket, action = std::move(action)] {
    try {
      action(*this);
    } catch (const std::exception& e) {
      MsgBox(e.what(), msgbox::kOk, "");
    }
    Publish();
    {
      std::lock_guard lock(mutex_);
      ticket->done = true;
    }
    changed_.notify_all();
  });
  return ticket;
}

std::uint64_t Session::MessageFloor() const {
  std::lock_guard lock(mutex_);
  return messageCount_;
}

void Session::WaitSettled(const std::shared_ptr<Ticket>& ticket, std::uint64_t messageFloor,
                          std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  // What was published counts, so that the state sent back shows it.
  changed_.wait_for(lock, limit, [&] {
    return ticket->done || closing_ || publishedMessage_ > messageFloor || publishedBusy_;
  });
}

bool Session::Answer(std::uint64_t id, int answer) {
  {
    std::lock_guard lock(mutex_);
    if (!pending_ || pending_->id != id || answer_) return false;
    const bool yesNo = (pending_->buttons & 0x0F) == msgbox::kYesNo;
    if (yesNo ? (answer != msgbox::kAnswerYes && answer != msgbox::kAnswerNo)
              : answer != msgbox::kAnswerOk)
      return false;
    answer_ = answer;
  }
  changed_.notify_all();
  return true;
}

bool Session::Waiting() const {
  std::lock_guard lock(mutex_);
  return pending_.has_value();
}

std::shared_ptr<const std::string> Session::Snapshot(std::uint64_t* version) const {
  std::lock_guard lock(mutex_);
  if (version) *version = version_;
  return snapshot_;
}

std::shared_ptr<const std::string> Session::WaitNewer(std::uint64_t since,
                                                      std::chrono::milliseconds limit,
                                                      std::uint64_t* version) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, limit, [&] { return version_ > since || closing_; });
  if (version) *version = version_;
  return snapshot_;
}

std::shared_ptr<const GridCopy> Session::Grid() const {
  std::lock_guard lock(mutex_);
  return grid_;
}

// ---- Session thread ----

void Session::Load(int center) {
  if (center > 0) center_ = center;
  SetStatus("Loading center " + std::to_string(center_) + "…");
  Publish();
  // The load adds the lists' items to what the combo boxes hold; emptied
  // first, a reload shows each item once.
  control_->PopulateComboBox("");
  control_->LoadData(AddressWithCredentials(config_.feeServer, user_, password_),
                     static_cast<std::int16_t>(center_),
                     config_.serverDate.empty() ? driver::TodayAsServerDate() : config_.serverDate);
  loaded_ = control_->LastLoadSucceeded();
  SetStatus(loaded_ ? "Center " + std::to_string(center_) + " loaded" : "Loading failed");
}

void Session::SetStatus(std::string text) { status_ = std::move(text); }

void Session::Guard(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    MsgBox(e.what(), msgbox::kOk, "");
  }
}

void Session::FormKey(std::string_view key) {
  Surface& s = control_->surface();
  auto clickIfShown = [this](CommandButton& b, const char* caption) {
    if (b.Visible() && b.Enabled() && b.Caption() == caption) Guard([&b] { b.Click(); });
  };
  if (key == "Enter") {
    clickIfShown(s.cmdAdd, kCaptionSave);
  } else if (key == "Escape") {
    if (s.cmdEdit.Caption() != kCaptionCancel) return;
    if (control_->EntryModified() &&
        MsgBox("Discard what you typed on this tab?", msgbox::kYesNo + msgbox::kQuestion,
               "HarnolFeesCenter") != msgbox::kAnswerYes)
      return;
    clickIfShown(s.cmdEdit, kCaptionCancel);
  }
}

void Session::GridKey(std::string_view key) {
  Surface& s = control_->surface();
  auto clickIfShown = [this](CommandButton& b, const char* caption) {
    if (b.Visible() && b.Enabled() && b.Caption() == caption) Guard([&b] { b.Click(); });
  };
  if (key == "Enter") {
    if (s.cmdAdd.Caption() == kCaptionSave) return FormKey(key);
    clickIfShown(s.cmdEdit, kCaptionEdit);
  } else if (key == "Delete") {
    clickIfShown(s.cmdDelete, kCaptionDelete);
  } else if (key == "Escape") {
    FormKey(key);
  }
}

void Session::DoEvents() {
  // Waits on the queue's condition variable: a wait for the server sleeps.
  if (queue_.RunPending(std::chrono::milliseconds(20)) > 0) Publish();
}

void Session::ProcessPendingEvents() { queue_.RunPending(std::chrono::milliseconds(0)); }

int Session::MsgBox(const std::string& prompt, int buttons, const std::string& title) {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return DefaultAnswer(buttons);
    pending_ = PendingMessage{++messageCount_, prompt, buttons, title};
    answer_.reset();
  }
  Publish();
  int answer;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return answer_.has_value() || closing_; });
    answer = answer_ ? *answer_ : DefaultAnswer(buttons);
    pending_.reset();
    answer_.reset();
  }
  Publish();
  return answer;
}

void Session::FocusMoved(std::string_view component) {
  focus_ = std::string(component);
  ++focusSeq_;
}

void Session::BusyChanged(bool busy) {
  {
    std::lock_guard lock(mutex_);
    busy_ = busy;
  }
  if (busy) {
    SetStatus("Saving…");
    Publish();
  }
  changed_.notify_all();
}

void Session::ExchangeSettled(const ExchangeOutcome& o) {
  switch (o.kind) {
    case ExchangeOutcome::Kind::Saved:
      SetStatus("Saved " + TabName(o.tab) + " effective " + o.effectiveDate);
      break;
    case ExchangeOutcome::Kind::Deleted:
      SetStatus("Deleted " + TabName(o.tab) + " effective " + o.effectiveDate);
      break;
    case ExchangeOutcome::Kind::Refused:
      SetStatus("The server refused the change: " + o.detail);
      break;
    case ExchangeOutcome::Kind::Failed:
      SetStatus(o.detail);
      break;
  }
}

void Session::UnfinishedWorkChanged() {
  // A new add or edit makes the last outcome old news.
  const std::vector<int> tabs = control_->UnfinishedTabs();
  if (std::find(tabs.begin(), tabs.end(), control_->state().CurrentTab) != tabs.end())
    status_.clear();
}

void Session::CopyGrid() {
  const harnolfees::Grid& g = control_->surface().grdFees;
  auto copy = std::make_shared<GridCopy>();
  copy->rows = g.Rows();
  copy->cols = g.Cols();
  copy->cells.reserve(static_cast<std::size_t>(copy->rows) * static_cast<std::size_t>(copy->cols));
  for (int r = 0; r < copy->rows; ++r)
    for (int c = 0; c < copy->cols; ++c) copy->cells.push_back(g.TextMatrix(r, c));
  std::lock_guard lock(mutex_);
  copy->gen = grid_ ? grid_->gen + 1 : 1;
  grid_ = std::move(copy);
}

void Session::Publish() {
  if (gridDirty_) {
    gridDirty_ = false;
    CopyGrid();
  }
  const bool busy = busy_.load();
  auto json = std::make_shared<const std::string>(StateJson());
  {
    std::lock_guard lock(mutex_);
    snapshot_ = std::move(json);
    ++version_;
    publishedBusy_ = busy;
    publishedMessage_ = pending_ ? pending_->id : 0;
  }
  changed_.notify_all();
}

std::string Session::StateJson() {
  const Surface& s = control_->surface();
  const ControlState& st = control_->state();
  JsonBuilder j;
  j.BeginObject();
  {
    std::lock_guard lock(mutex_);
    j.Field("version", static_cast<int>(version_ + 1));
    j.Key("message");
    if (pending_) {
      j.BeginObject()
          .Key("id")
          .Int(static_cast<std::int64_t>(pending_->id))
          .Field("prompt", pending_->prompt)
          .Field("buttons", pending_->buttons)
          .Field("title",
                 pending_->title.empty() ? std::string("HarnolFeesCenter") : pending_->title)
          .EndObject();
    } else {
      j.Null();
    }
    j.Key("gridGen").Int(grid_ ? static_cast<std::int64_t>(grid_->gen) : 0);
  }
  j.Field("csrf", csrf_)
      .Field("user", user_)
      .Field("center", center_)
      .Field("server", AddressWithoutCredentials(config_.feeServer))
      .Field("loaded", loaded_)
      .Field("busy", busy_.load())
      .Field("pointer", pointer_)
      .Field("status", status_)
      .Field("focus", focus_)
      .Key("focusSeq")
      .Int(static_cast<std::int64_t>(focusSeq_))
      .Field("viewMode", st.ViewMode)
      .Field("currentTab", static_cast<int>(st.CurrentTab))
      .Field("entryModified", control_->EntryModified());
  j.Key("unfinished").BeginArray();
  for (int tab : control_->UnfinishedTabs()) j.Int(tab);
  j.EndArray();
  j.Key("tabs").BeginArray();
  for (const std::string& c : s.tabFees.captions) j.String(c);
  j.EndArray();
  j.Field("selectedTab", s.tabFees.SelectedIndex());

  const harnolfees::Grid& g = s.grdFees;
  j.Key("grid").BeginObject();
  j.Field("rows", g.Rows()).Field("cols", g.Cols()).Field("row", g.Row()).Field("col", g.Col());
  j.Key("widths").BeginArray();
  for (int c = 0; c < g.Cols(); ++c) j.Int(g.ColWidth(c));
  j.EndArray();
  j.Key("head").BeginArray();
  for (int c = 0; c < g.Cols(); ++c) j.String(g.Rows() > 0 ? g.TextMatrix(0, c) : "");
  j.EndArray();
  j.EndObject();

  j.Key("labels").BeginArray();
  for (const Label& l : s.lblField) {
    j.BeginObject().Field("caption", l.Caption());
    RectJson(j, l.Rect());
    j.EndObject();
  }
  j.EndArray();
  j.Key("texts").BeginArray().Null();
  for (std::size_t i = 1; i < s.txtField.size(); ++i) {
    const TextBox& t = s.txtField[i];
    bool covered = false;
    for (const Component* c : overlays_[i]) {
      if (const auto* combo = dynamic_cast<const ComboBox*>(c); combo && combo->Visible())
        covered = true;
      if (const auto* picker = dynamic_cast<const DatePicker*>(c); picker && picker->Visible())
        covered = true;
    }
    j.BeginObject()
        .Field("text", t.Text())
        .Field("visible", t.Visible() && !covered)
        .Field("enabled", t.Enabled())
        .Field("window", t.BackColor() == SystemColor::WindowBackground)
        .Field("selStart", t.SelStart())
        .Field("selLength", t.SelLength());
    RectJson(j, t.Rect());
    j.EndObject();
  }
  j.EndArray();
  j.Key("dates").BeginArray();
  for (const DatePicker& p : s.DTPicker1) {
    j.BeginObject()
        .Field("value", IsoDate(p.Value()))
        .Field("min", IsoDate(p.MinDate()))
        .Field("max", IsoDate(p.MaxDate()))
        .Field("visible", p.Visible())
        .Field("enabled", p.Enabled());
    RectJson(j, p.Rect());
    j.EndObject();
  }
  j.EndArray();
  j.Key("combos").BeginObject();
  for (const ComboBox* c : {&s.cboTerm, &s.cboType, &s.cboBitwise, &s.cboAPRType, &s.cboAccessLevel,
                            &s.cboBanckAccType}) {
    j.Key(c->Name()).BeginObject();
    j.Key("items").BeginArray();
    for (int i = 0; i < c->ListCount(); ++i) j.String(c->List(i));
    j.EndArray();
    j.Field("index", c->ListIndex())
        .Field("visible", c->Visible())
        .Field("enabled", c->Enabled())
        .Field("window", c->BackColor() == SystemColor::WindowBackground);
    RectJson(j, c->Rect());
    j.EndObject();
  }
  j.EndObject();
  j.Key("checks").BeginObject();
  for (const CheckBox* c : {&s.chkTravel, &s.chkDT}) {
    j.Key(c->Name())
        .BeginObject()
        .Field("caption", c->caption)
        .Field("value", c->Value())
        .Field("visible", c->Visible())
        .Field("enabled", c->Enabled());
    RectJson(j, c->Rect());
    j.EndObject();
  }
  j.EndObject();
  j.Key("buttons").BeginObject();
  for (const CommandButton* b : {&s.cmdAdd, &s.cmdEdit, &s.cmdDelete}) {
    j.Key(b->Name())
        .BeginObject()
        .Field("caption", b->Caption())
        .Field("visible", b->Visible())
        .Field("enabled", b->Enabled());
    RectJson(j, b->Rect());
    j.EndObject();
  }
  j.EndObject();
  j.Field("version_label", s.lblVersionNo.Caption());
  j.EndObject();
  return j.Take();
}

// ---- Registry ----

SessionRegistry::SessionRegistry(SessionConfig config, std::size_t maxSessions,
                                 std::chrono::seconds idleLimit)
    : config_(std::move(config)), maxSessions_(maxSessions), idleLimit_(idleLimit) {
  reaper_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      stop_.wait_for(lock, std::chrono::seconds(1));
      if (stopping_) break;
      lock.unlock();
      ExpireIdle(Session::Clock::now());
      lock.lock();
    }
  });
}

SessionRegistry::~SessionRegistry() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  reaper_.join();
  CloseAll();
}

void SessionRegistry::CloseAll() {
  std::map<std::string, std::shared_ptr<Session>, std::less<>> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(sessions_);
  }
  for (auto& [id, session] : all) session->Close();
}

std::shared_ptr<Session> SessionRegistry::Create(const std::string& user,
                                                 const std::string& password, int center) {
  std::lock_guard lock(mutex_);
  if (sessions_.size() >= maxSessions_) return nullptr;
  std::string id = RandomToken();
  auto session = std::make_shared<Session>(id, RandomToken(), user, password, center, config_);
  sessions_.emplace(std::move(id), session);
  return session;
}

std::shared_ptr<Session> SessionRegistry::Find(std::string_view id) const {
  if (id.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(id);
  return it == sessions_.end() ? nullptr : it->second;
}

void SessionRegistry::Remove(const std::string& id) {
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return;
    session = std::move(it->second);
    sessions_.erase(it);
  }
  session->Close();
}

int SessionRegistry::ExpireIdle(Session::Clock::time_point now) {
  std::vector<std::shared_ptr<Session>> expired;
  {
    std::lock_guard lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (now - it->second->LastActive() > idleLimit_ && !it->second->Busy()) {
        expired.push_back(std::move(it->second));
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& session : expired) session->Close();
  return static_cast<int>(expired.size());
}

std::size_t SessionRegistry::size() const {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

// ---- Tokens and cookies ----

std::string RandomToken(std::size_t bytes) {
  std::string raw(bytes, '\0');
  std::size_t got = 0;
  while (got < bytes) {
    const ssize_t n = getrandom(raw.data() + got, bytes - got, 0);
    if (n < 0) throw std::runtime_error("no random bytes from the kernel");
    got += static_cast<std::size_t>(n);
  }
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) {
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

bool TokensEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const auto semi = header.find(';');
    std::string_view part = header.substr(0, semi);
    header = semi == std::string_view::npos ? std::string_view() : header.substr(semi + 1);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    const auto eq = part.find('=');
    if (eq != std::string_view::npos && part.substr(0, eq) == name)
      return std::string(part.substr(eq + 1));
  }
  return {};
}

std::string SessionCookie(std::string_view id, bool secure) {
  std::string c =
      std::string(kCookieName) + "=" + std::string(id) + "; Path=/; HttpOnly; SameSite=Strict";
  if (id.empty()) c += "; Max-Age=0";
  if (secure) c += "; Secure";
  return c;
}

}  // namespace harnolfees::web
