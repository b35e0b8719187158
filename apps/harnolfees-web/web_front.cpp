#include "web_front.hpp"

#include <httplib.h>

#include <charconv>
#include <stdexcept>
#include <unordered_map>

#include "fee_check.hpp"
#include "json.hpp"

namespace harnolfees::web {

namespace {

using driver::JsonBuilder;

// A request from the page sends this header; a form or a script of another
// site cannot send it without the browser asking first, and it is not asked.
constexpr const char* kRequestHeader = "X-HF-Request";
constexpr const char* kCsrfHeader = "X-HF-CSRF";

std::optional<int> IntParam(const httplib::Request& req, const char* name) {
  if (!req.has_param(name)) return std::nullopt;
  const std::string v = req.get_param_value(name);
  int out = 0;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
  if (ec != std::errc() || end != v.data() + v.size()) return std::nullopt;
  return out;
}

void Json(httplib::Response& res, int status, std::string body) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(std::move(body), "application/json; charset=utf-8");
}

void Error(httplib::Response& res, int status, std::string_view why) {
  JsonBuilder j;
  j.BeginObject().Field("error", why).EndObject();
  Json(res, status, j.Take());
}

// Rows `from` .. `from + count - 1` of the grid as last published.
std::string RowsJson(const std::shared_ptr<const GridCopy>& grid, int from, int count) {
  JsonBuilder j;
  j.BeginObject();
  j.Key("gen").Int(grid ? static_cast<std::int64_t>(grid->gen) : 0);
  j.Field("from", from);
  j.Key("cells").BeginArray();
  if (grid) {
    for (int r = from; r < std::min(grid->rows, from + count); ++r) {
      j.BeginArray();
      for (int c = 0; c < grid->cols; ++c)
        j.String(grid->cells[static_cast<std::size_t>(r) * static_cast<std::size_t>(grid->cols) +
                             static_cast<std::size_t>(c)]);
      j.EndArray();
    }
  }
  j.EndArray().EndObject();
  return j.Take();
}

// The state, with the rows the page shows (its "vf" and "vc") when it asks:
// a new grid then arrives with the state, not one request later.
std::string StateWithRows(const Session& session, const httplib::Request& req) {
  std::string state = *session.Snapshot();
  const auto from = IntParam(req, "vf");
  const auto count = IntParam(req, "vc");
  if (from && count && !state.empty() && state.back() == '}') {
    state.pop_back();
    state += ",\"window\":";
    state += RowsJson(session.Grid(), std::max(1, *from), std::clamp(*count, 0, 200));
    state += '}';
  }
  return state;
}

// Failed sign-ins per client address: more than ten within a minute pause
// the address for a minute, so that guessing here cannot make the fee
// server refuse everybody behind this program.
class SignInBrake {
 public:
  using Clock = std::chrono::steady_clock;
  bool Refuses(const std::string& address) {
    std::lock_guard lock(mutex_);
    auto it = records_.find(address);
    return it != records_.end() && Clock::now() < it->second.until;
  }
  void Failed(const std::string& address) {
    std::lock_guard lock(mutex_);
    if (records_.size() > 65536) records_.clear();
    Record& r = records_[address];
    const auto now = Clock::now();
    if (now - r.start > std::chrono::minutes(1)) r = Record{now, 0, {}};
    if (++r.failures > 10) r.until = now + std::chrono::minutes(1);
  }

 private:
  struct Record {
    Clock::time_point start{};
    int failures = 0;
    Clock::time_point until{};
  };
  std::mutex mutex_;
  std::unordered_map<std::string, Record> records_;
};

// The operator's action of a request, run on the session's thread.
Session::Action MakeAction(const httplib::Request& req) {
  std::vector<std::pair<int, std::string>> texts;
  for (int i = 1; i <= 7; ++i) {
    const std::string key{'t', static_cast<char>('0' + i)};
    if (req.has_param(key)) texts.emplace_back(i, req.get_param_value(key));
  }
  const std::string what = req.get_param_value("do");
  const std::string name = req.get_param_value("name");
  const std::string key = req.get_param_value("key");
  const std::string value = req.get_param_value("value");
  const int index = IntParam(req, "index").value_or(-1);
  const int row = IntParam(req, "row").value_or(-1);
  const int col = IntParam(req, "col").value_or(0);
  return [=](Session& s) {
    HarnolFeesCtlCenter& c = s.control();
    Surface& sf = c.surface();
    // What the operator typed reaches the text boxes first, as each key
    // does in the desktop editor.
    for (const auto& [i, text] : texts) {
      TextBox& box = sf.txtField[static_cast<std::size_t>(i)];
      if (box.Text() != text) box.SetText(text);
    }
    if (what == "tab") {
      if (!c.Busy() && index >= 1 && index <= kTabCount && index != sf.tabFees.SelectedIndex()) {
        sf.tabFees.SetSelectedIndex(index);
        s.Guard([&sf] { sf.tabFees.Click(); });
      }
    } else if (what == "click") {
      if (CommandButton* b = sf.FindButton(name)) s.Guard([b] { b->Click(); });
    } else if (what == "check") {
      if (CheckBox* b = sf.FindCheckBox(name)) s.Guard([b, &value] { b->SetValue(value == "1"); });
    } else if (what == "combo") {
      if (ComboBox* b = sf.FindComboBox(name)) s.Guard([b, index] { b->SetListIndex(index); });
    } else if (what == "date") {
      int y = 0, m = 0, d = 0;
      if (index >= 0 && index < 3 && std::sscanf(value.c_str(), "%d-%d-%d", &y, &m, &d) == 3) {
        if (auto date = DateTime::TryFromParts(y, m, d)) {
          try {
            sf.DTPicker1[static_cast<std::size_t>(index)].SetValue(*date);
          } catch (const std::exception&) {
            // The picker refuses it, like a real one; the page shows its value.
          }
        }
      }
    } else if (what == "focus") {
      if (index >= 1 && index <= 7) s.Guard([&c, index] { c.txtField_GotFocus(index); });
    } else if (what == "blur") {
      if (index >= 1 && index <= 7) s.Guard([&c, index] { c.txtField_LostFocus(index); });
    } else if (what == "row") {
      try {
        sf.grdFees.SetRow(row);
        sf.grdFees.SetCol(col);
      } catch (const std::exception&) {
        // A row the grid no longer has: the page shows the grid's own.
      }
    } else if (what == "dblclick") {
      CommandButton& b = sf.cmdEdit;
      if (b.Visible() && b.Enabled() && b.Caption() == kCaptionEdit) s.Guard([&b] { b.Click(); });
    } else if (what == "key") {
      if (name == "grid") {
        s.GridKey(key);
      } else {
        s.FormKey(key);
      }
    } else if (what == "resolve") {
      if (value == "save") {
        if (!c.SaveUnfinishedWork()) s.SetStatus("Not all changes were saved");
      } else if (value == "discard") {
        c.DiscardUnfinishedWork();
      }
    } else if (what == "reload") {
      if (c.UnfinishedTabs().empty() && !c.Busy()) s.Load();
    } else if (what == "open") {
      if (!c.UnfinishedTabs().empty() || c.Busy() || index < 0 || index > 32767) return;
      s.Load(index);
    }
  };
}

}  // namespace

struct WebFront::Impl {
  std::unique_ptr<httplib::Server> http;
  SignInBrake brake;
  bool secure = false;
};

WebFront::WebFront(WebOptions options)
    : options_(std::move(options)), impl_(std::make_unique<Impl>()) {
  SessionConfig config;
  config.feeServer = options_.feeServer;
  if (!config.feeServer.empty() && config.feeServer.back() != '/') config.feeServer += '/';
  config.serverDate = options_.serverDate;
  config.viewMode = options_.viewMode;
  sessions_ = std::make_unique<SessionRegistry>(config, options_.maxSessions, options_.idleLimit);
  impl_->secure = options_.behindTls || !options_.tlsCert.empty();
  if (!options_.tlsCert.empty()) {
    impl_->http =
        std::make_unique<httplib::SSLServer>(options_.tlsCert.c_str(), options_.tlsKey.c_str());
    if (!impl_->http->is_valid())
      throw std::runtime_error("cannot use the TLS certificate " + options_.tlsCert + " and key " +
                               options_.tlsKey);
  } else {
    impl_->http = std::make_unique<httplib::Server>();
  }
  httplib::Server& svr = *impl_->http;
  // Every session may hold a long poll and an action at once.
  const std::size_t threads = options_.threads > 0 ? static_cast<std::size_t>(options_.threads)
                                                   : options_.maxSessions * 2 + 16;
  svr.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  // A reply's head and body go out at once, not one ACK apart.
  svr.set_tcp_nodelay(true);
  svr.set_keep_alive_timeout(5);
  svr.set_read_timeout(10, 0);
  svr.set_payload_max_length(64 * 1024);
  svr.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; frame-ancestors 'none'; form-action 'self'");
    res.set_header("Referrer-Policy", "no-referrer");
  });

  SessionRegistry& registry = *sessions_;
  Impl& impl = *impl_;
  const std::string host = options_.host;

  auto sessionOf = [&registry](const httplib::Request& req) {
    return registry.Find(CookieValue(req.get_header_value("Cookie"), kCookieName));
  };
  // A state-changing request must come from the page: its own header, and
  // for a session the session's token.
  auto fromPage = [](const httplib::Request& req) {
    return req.get_header_value(kRequestHeader) == "1";
  };

  svr.Get("/", [](const httplib::Request&, httplib::Response& res) {
    const Asset* page = FindAsset("/index.html");
    res.set_header("Cache-Control", "no-store");
    res.set_content(std::string(page->body), std::string(page->type));
  });
  svr.Get(R"(/(page\.js|page\.css))", [](const httplib::Request& req, httplib::Response& res) {
    const Asset* a = FindAsset(req.path);
    if (!a) {
      res.status = 404;
      return;
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_content(std::string(a->body), std::string(a->type));
  });

  svr.Post("/api/signin", [&registry, &impl, fromPage](const httplib::Request& req,
                                                       httplib::Response& res) {
    if (!fromPage(req)) return Error(res, 403, "This request did not come from the page.");
    if (impl.brake.Refuses(req.remote_addr))
      return Error(res, 429, "Too many failed sign-ins from this address; try again in a minute.");
    const std::string user = req.get_param_value("user");
    const std::string password = req.get_param_value("password");
    const auto center = IntParam(req, "center");
    if (user.empty() || password.empty())
      return Error(res, 400, "Enter your user name and password.");
    if (!center || *center < 0 || *center > 32767)
      return Error(res, 400, "The center is a number from 0 to 32767.");
    const CenterCheck check = CheckCenter(registry.config().feeServer, user, password, *center);
    switch (check.result) {
      case SignInResult::Ok:
        break;
      case SignInResult::BadSignIn:
        impl.brake.Failed(req.remote_addr);
        return Error(res, 401, "The user name or password is wrong.");
      case SignInResult::Refused:
        return Error(res, 403,
                     "User " + user + " may not open center " + std::to_string(*center) + ".");
      case SignInResult::Braked:
        return Error(res, 429, "The fee server refuses sign-ins for a while; try again later.");
      case SignInResult::Unreachable:
        return Error(res, 502, "The fee server could not be reached: " + check.detail);
    }
    auto session = registry.Create(user, password, *center);
    if (!session) return Error(res, 503, "Too many people are signed in; try again later.");
    res.set_header("Set-Cookie", SessionCookie(session->id(), impl.secure));
    const std::uint64_t floor = session->MessageFloor();
    auto ticket = session->Post([](Session& s) { s.Load(); });
    session->WaitSettled(ticket, floor, std::chrono::seconds(60));
    Json(res, 200, *session->Snapshot());
  });

  svr.Get("/api/state", [sessionOf](const httplib::Request& req, httplib::Response& res) {
    auto session = sessionOf(req);
    if (!session) return Error(res, 401, "Not signed in.");
    session->Touch();
    Json(res, 200, *session->Snapshot());
  });

  svr.Get("/api/events", [sessionOf](const httplib::Request& req, httplib::Response& res) {
    auto session = sessionOf(req);
    if (!session) return Error(res, 401, "Not signed in.");
    const auto since = IntParam(req, "since").value_or(0);
    session->WaitNewer(static_cast<std::uint64_t>(std::max(0, since)), std::chrono::seconds(20));
    Json(res, 200, StateWithRows(*session, req));
  });

  svr.Get("/api/rows", [sessionOf](const httplib::Request& req, httplib::Response& res) {
    auto session = sessionOf(req);
    if (!session) return Error(res, 401, "Not signed in.");
    const int from = std::max(1, IntParam(req, "from").value_or(1));
    const int count = std::clamp(IntParam(req, "count").value_or(100), 0, 1000);
    Json(res, 200, RowsJson(session->Grid(), from, count));
  });

  auto checked = [sessionOf, fromPage](const httplib::Request& req,
                                       httplib::Response& res) -> std::shared_ptr<Session> {
    auto session = sessionOf(req);
    if (!session) {
      Error(res, 401, "Not signed in.");
      return nullptr;
    }
    if (!fromPage(req) || !TokensEqual(req.get_header_value(kCsrfHeader), session->csrf())) {
      Error(res, 403, "This request did not come from the page.");
      return nullptr;
    }
    session->Touch();
    return session;
  };

  svr.Post("/api/action", [checked](const httplib::Request& req, httplib::Response& res) {
    auto session = checked(req, res);
    if (!session) return;
    if (session->Waiting()) return Error(res, 409, "A message waits for its answer.");
    const std::uint64_t floor = session->MessageFloor();
    auto ticket = session->Post(MakeAction(req));
    session->WaitSettled(ticket, floor, std::chrono::seconds(60));
    Json(res, 200, StateWithRows(*session, req));
  });

  svr.Post("/api/answer", [checked](const httplib::Request& req, httplib::Response& res) {
    auto session = checked(req, res);
    if (!session) return;
    const auto id = IntParam(req, "id");
    const auto answer = IntParam(req, "answer");
    const std::uint64_t floor = session->MessageFloor();
    if (!id || !answer || !session->Answer(static_cast<std::uint64_t>(*id), *answer))
      return Error(res, 409, "No such message waits for an answer.");
    // Settled once the handler that asked has gone on to its end (a mark
    // behind it in the queue has run), or asks again, or waits for the server.
    auto ticket = session->Post([](Session&) {});
    session->WaitSettled(ticket, floor, std::chrono::seconds(60));
    Json(res, 200, StateWithRows(*session, req));
  });

  svr.Post("/api/signout",
           [checked, &registry, &impl](const httplib::Request& req, httplib::Response& res) {
             auto session = checked(req, res);
             if (!session) return;
             if (session->Busy())
               return Error(res, 409, "A save is on its way; wait for its answer.");
             registry.Remove(session->id());
             res.set_header("Set-Cookie", SessionCookie("", impl.secure));
             Json(res, 200, "{}");
           });

  svr.Get("/health", [&registry](const httplib::Request&, httplib::Response& res) {
    Json(res, 200, "{\"sessions\":" + std::to_string(registry.size()) + "}");
  });
  (void)host;
}

WebFront::~WebFront() {
  impl_->http.reset();
  sessions_.reset();
}

int WebFront::Bind() {
  int port = options_.port;
  if (port == 0) {
    port = impl_->http->bind_to_any_port(options_.host);
    if (port <= 0) throw std::runtime_error("cannot listen on " + options_.host);
  } else if (!impl_->http->bind_to_port(options_.host, port)) {
    throw std::runtime_error("cannot listen on " + options_.host + ":" + std::to_string(port));
  }
  return port;
}

bool WebFront::Serve() { return impl_->http->listen_after_bind(); }

// The server waits for the requests in hand, and a long poll takes up to 20 s:
// closing the sessions ends those at once.
void WebFront::Stop() {
  impl_->http->stop();
  sessions_->CloseAll();
}

}  // namespace harnolfees::web
