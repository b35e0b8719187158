#include "runner.hpp"

#include <exception>

#include "dump.hpp"
#include "json.hpp"

namespace harnolfees::driver {

namespace {

// A script line that names something the control does not have at this
// moment (a grid cell beyond the grid, a list item beyond the list) or a date
// text that is no date: the script is wrong, so it stops.
class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Operations whose implementation has not landed answer with this
// description; the script reports them and goes on.
bool IsNotAvailable(const ControlError& e) {
  return std::string_view(e.what()).find("not available yet") != std::string_view::npos;
}

const char* Verb(CommandKind kind) {
  switch (kind) {
    case CommandKind::kLoad:
      return "load";
    case CommandKind::kViewMode:
      return "viewmode";
    case CommandKind::kClubId:
      return "clubid";
    case CommandKind::kStringParameter:
      return "stringparameter";
    case CommandKind::kPopulate:
      return "populate";
    case CommandKind::kUrlEncode:
      return "urlencode";
    case CommandKind::kTab:
      return "tab";
    case CommandKind::kCell:
      return "cell";
    case CommandKind::kClick:
      return "click";
    case CommandKind::kType:
      return "type";
    case CommandKind::kSelect:
      return "select";
    case CommandKind::kSelectText:
      return "selecttext";
    case CommandKind::kCheck:
      return "check";
    case CommandKind::kDate:
      return "date";
    case CommandKind::kAnswer:
      return "answer";
    case CommandKind::kDump:
      return "dump";
  }
  return "?";
}

std::string PickerDateText(const DateTime& d) {
  std::string iso = DateToIso(d);
  return iso.substr(0, iso.find('T'));
}

}  // namespace

ScriptRunner::ScriptRunner(std::ostream& out, NetworkFactories network)
    : events_(&out), host_(events_), network_(std::move(network)) {
  if (!network_.fetcher) network_.fetcher = [] { return MakeCurlFetcher(); };
  if (!network_.transfer) {
    network_.transfer = [](HostServices& host) { return MakeCurlTransfer(host); };
  }
}

ScriptRunner::~ScriptRunner() { Finish(); }

bool ScriptRunner::Start() {
  try {
    auto fetcher = std::make_unique<LoggingFetcher>(events_, network_.fetcher);
    auto transfer =
        std::make_unique<LoggingTransfer>(events_, [this] { return network_.transfer(host_); });
    control_ =
        std::make_unique<HarnolFeesCtlCenter>(host_, std::move(transfer), std::move(fetcher));
    host_.RunPendingNow();
    return true;
  } catch (const std::exception& e) {
    ReportError(0, std::string("the control could not be created: ") + e.what());
  } catch (...) {
    ReportError(0, "the control could not be created");
  }
  control_.reset();
  status_ = kExitInternal;
  return false;
}

void ScriptRunner::ReportError(int line, const std::string& message) {
  JsonBuilder j;
  j.BeginObject().Field("event", "error").Field("line", line).Field("message", message).EndObject();
  events_.Write(j.str());
}

bool ScriptRunner::RunLine(int number, std::string_view line) {
  const ParsedLine parsed = ParseScriptLine(line);
  if (parsed.status == ParsedLine::Status::kEmpty) return true;
  if (parsed.status == ParsedLine::Status::kError) {
    ReportError(number, parsed.error);
    status_ = kExitScript;
    return false;
  }
  if (!control_) {
    ReportError(number, "there is no control to run this line against");
    status_ = kExitInternal;
    return false;
  }
  const char* verb = Verb(parsed.command.kind);
  try {
    Execute(number, parsed.command);
    host_.RunPendingNow();
    return true;
  } catch (const ScriptError& e) {
    ReportError(number, e.what());
    status_ = kExitScript;
    return false;
  } catch (const ControlError& e) {
    if (IsNotAvailable(e)) {
      ReportError(number, std::string(verb) + ": not available yet");
    } else {
      // The control lets no error out towards its host; one that escapes is
      // a fault of the control, not of the script.
      ReportError(number, std::string(verb) + ": " + e.what());
      status_ = kExitInternal;
    }
  } catch (const std::exception& e) {
    ReportError(number, std::string(verb) + ": internal failure: " + e.what());
    status_ = kExitInternal;
  } catch (...) {
    ReportError(number, std::string(verb) + ": internal failure");
    status_ = kExitInternal;
  }
  // Work the failed command posted still runs, as the host's loop would run it.
  try {
    host_.RunPendingNow();
  } catch (...) {
    status_ = kExitInternal;
  }
  return true;
}

void ScriptRunner::Execute(int line, const Command& c) {
  HarnolFeesCtlCenter& control = *control_;
  Surface& s = control.surface();
  switch (c.kind) {
    case CommandKind::kLoad:
      control.LoadData(c.texts[0], static_cast<std::int16_t>(c.number), c.texts[1]);
      break;
    case CommandKind::kViewMode:
      control.SetViewMode(c.flag);
      break;
    case CommandKind::kClubId:
      control.SetClubID(static_cast<std::int16_t>(c.number));
      break;
    case CommandKind::kStringParameter:
      control.StringParameter(c.texts[0], c.texts[1], c.texts[2], c.texts[3]);
      break;
    case CommandKind::kPopulate:
      control.PopulateComboBox(c.texts[0]);
      break;
    case CommandKind::kUrlEncode: {
      const std::string result = control.urlEncode(c.texts[0]);
      JsonBuilder j;
      j.BeginObject().Field("event", "urlencode").Field("result", result).EndObject();
      events_.Write(j.str());
      break;
    }
    case CommandKind::kTab:
      // Clicking the tab that is already selected still raises the click.
      s.tabFees.SetSelectedIndex(c.number);
      if (s.tabFees.onClick) {
        s.tabFees.Click();
      } else {
        control.tabFees_Click();
      }
      break;
    case CommandKind::kCell: {
      Grid& g = s.grdFees;
      if (c.number < 0 || c.number >= g.Rows() || c.number2 < 0 || c.number2 >= g.Cols()) {
        throw ScriptError("there is no grid cell (" + std::to_string(c.number) + ", " +
                          std::to_string(c.number2) + "): the grid has " +
                          std::to_string(g.Rows()) + " rows and " + std::to_string(g.Cols()) +
                          " columns");
      }
      g.SetRow(c.number);
      g.SetCol(c.number2);
      g.SetRowSel(c.number);
      break;
    }
    case CommandKind::kClick: {
      CommandButton* b = s.FindButton(c.name);
      if (b == nullptr) throw ScriptError("there is no button \"" + c.name + "\"");
      if (b->onClick) {
        b->Click();
      } else if (b == &s.cmdAdd) {
        control.cmdAdd_Click();
      } else if (b == &s.cmdEdit) {
        control.cmdEdit_Click();
      } else {
        control.cmdDelete_Click();
      }
      break;
    }
    case CommandKind::kType: {
      TextBox& box = s.txtField[static_cast<std::size_t>(c.number)];
      if (box.onGotFocus) {
        box.onGotFocus();
      } else {
        control.txtField_GotFocus(c.number);
      }
      box.SetText(c.texts[0]);
      if (box.onLostFocus) {
        box.onLostFocus();
      } else {
        control.txtField_LostFocus(c.number);
      }
      break;
    }
    case CommandKind::kSelect: {
      ComboBox* combo = s.FindComboBox(c.name);
      if (combo == nullptr) throw ScriptError("there is no combo box \"" + c.name + "\"");
      if (c.number >= combo->ListCount()) {
        throw ScriptError("there is no item " + std::to_string(c.number) + " in " + c.name +
                          " (it has " + std::to_string(combo->ListCount()) + " items)");
      }
      combo->SetListIndex(c.number);
      break;
    }
    case CommandKind::kSelectText: {
      ComboBox* combo = s.FindComboBox(c.name);
      if (combo == nullptr) throw ScriptError("there is no combo box \"" + c.name + "\"");
      combo->SetText(c.texts[0]);
      break;
    }
    case CommandKind::kCheck: {
      CheckBox* box = s.FindCheckBox(c.name);
      if (box == nullptr) throw ScriptError("there is no check box \"" + c.name + "\"");
      const int before = box->Value();
      box->SetValue(c.number);
      // The check box raises its own click when wired; chkTravel has no handler.
      if (!box->onClick && box == &s.chkDT && before != c.number) control.chkDT_Click();
      break;
    }
    case CommandKind::kDate: {
      const auto date = ParseDate(c.texts[0], control.regional());
      if (!date) throw ScriptError("\"" + c.texts[0] + "\" is not a date");
      DatePicker& picker = s.DTPicker1[static_cast<std::size_t>(c.number)];
      if (*date < picker.MinDate() || *date > picker.MaxDate()) {
        // A picker refuses such a date and keeps its value; the script goes on.
        ReportError(line, "date: " + PickerDateText(*date) + " is outside the range of " +
                              picker.Name() + " (" + PickerDateText(picker.MinDate()) + " to " +
                              PickerDateText(picker.MaxDate()) + ")");
        break;
      }
      try {
        picker.SetValue(*date);
      } catch (const ControlError& e) {
        if (IsNotAvailable(e)) throw;
        ReportError(
            line, "date: " + picker.Name() + " refused " + PickerDateText(*date) + ": " + e.what());
      }
      break;
    }
    case CommandKind::kAnswer:
      host_.QueueAnswer(c.flag);
      break;
    case CommandKind::kDump:
      events_.Write(DumpEvent(control));
      break;
  }
}

int ScriptRunner::Finish() {
  if (control_) {
    try {
      control_.reset();
    } catch (...) {
      status_ = kExitInternal;
    }
  }
  return status_;
}

int RunScript(std::istream& in, std::ostream& out, NetworkFactories network) {
  ScriptRunner runner(out, std::move(network));
  if (!runner.Start()) return runner.Finish();
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!runner.RunLine(number, line)) break;
  }
  return runner.Finish();
}

}  // namespace harnolfees::driver
