#include "dump.hpp"

#include <cstdio>
#include <type_traits>
#include <variant>

#include "harnolfees/host.hpp"
#include "json.hpp"

namespace harnolfees::driver {

namespace {

std::string PickerDate(const DateTime& d) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.Year(), d.Month(), d.Day());
  return text;
}

void ComboBoxJson(JsonBuilder& j, const ComboBox& c) {
  j.BeginObject();
  j.Key("List").BeginArray();
  for (int i = 0; i < c.ListCount(); ++i) j.String(c.List(i));
  j.EndArray();
  j.Key("ItemData").BeginArray();
  for (int i = 0; i < c.ListCount(); ++i) j.Int(c.ItemData(i));
  j.EndArray();
  j.Field("ListIndex", c.ListIndex())
      .Field("Text", c.Text())
      .Field("Visible", c.Visible())
      .Field("Enabled", c.Enabled())
      .Field("BackColor", SystemColorText(c.BackColor()));
  j.EndObject();
}

void CheckBoxJson(JsonBuilder& j, const CheckBox& c) {
  j.BeginObject()
      .Field("Value", c.Value())
      .Field("Visible", c.Visible())
      .Field("Enabled", c.Enabled())
      .EndObject();
}

void ButtonJson(JsonBuilder& j, const CommandButton& b) {
  j.BeginObject()
      .Field("Caption", b.Caption())
      .Field("Enabled", b.Enabled())
      .Field("Visible", b.Visible())
      .EndObject();
}

template <typename Array>
void IntArrayOfTabs(JsonBuilder& j, const Array& a) {
  j.BeginArray();
  for (int tab = 1; tab <= kTabCount; ++tab) j.Int(a[tab]);
  j.EndArray();
}

void ControlJson(JsonBuilder& j, const ControlState& s) {
  j.BeginObject()
      .Field("CurrentTab", static_cast<int>(s.CurrentTab))
      .Field("ClubID", static_cast<int>(s.ClubID))
      .Field("ViewMode", s.ViewMode)
      .Field("BaseURL", AddressWithoutCredentials(s.BaseURL))
      .Field("ServerDate", s.ServerDate)
      .Field("LastStatement", s.LastStatement)
      .Field("DeletePending", s.DeletePending)
      .Field("ShowTravelOption", s.ShowTravelOption)
      .Field("IsAdding", s.IsAdding)
      .Field("EditOldEffectivity", s.EditOldEffectivity)
      .Field("EditOldType", s.EditOldType)
      .Field("FieldSeparator", s.FieldSeparator)
      .Field("TableSeparator", s.TableSeparator);
  j.Key("SavedGridRow");
  IntArrayOfTabs(j, s.SavedGridRow);
  j.Key("TabEntryMode");
  IntArrayOfTabs(j, s.TabEntryMode);
  j.Key("SavedFieldTexts").BeginArray();
  for (int tab = 1; tab <= kTabCount; ++tab) {
    j.BeginArray();
    for (int slot = 1; slot <= 7; ++slot) j.String(s.SavedFieldTexts[tab][slot]);
    j.EndArray();
  }
  j.EndArray();
  j.EndObject();
}

void WidgetsJson(JsonBuilder& j, const Surface& s) {
  j.BeginObject();

  j.Key("tabFees").BeginObject();
  j.Field("SelectedIndex", s.tabFees.SelectedIndex()).Field("Tag", s.tabFees.Tag());
  j.Key("Captions").BeginArray();
  for (const std::string& c : s.tabFees.captions) j.String(c);
  j.EndArray().EndObject();

  const Grid& g = s.grdFees;
  j.Key("grdFees").BeginObject();
  j.Field("Rows", g.Rows())
      .Field("Cols", g.Cols())
      .Field("Row", g.Row())
      .Field("Col", g.Col())
      .Field("RowSel", g.RowSel())
      .Field("Width", g.Width())
      .Field("Height", g.Height());
  j.Key("ColWidth").BeginArray();
  for (int c = 0; c < g.Cols(); ++c) j.Int(g.ColWidth(c));
  j.EndArray();
  j.Key("TextMatrix").BeginArray();
  for (int r = 0; r < g.Rows(); ++r) {
    j.BeginArray();
    for (int c = 0; c < g.Cols(); ++c) j.String(g.TextMatrix(r, c));
    j.EndArray();
  }
  j.EndArray().EndObject();

  j.Key("lblField").BeginArray();
  for (const Label& l : s.lblField) j.BeginObject().Field("Caption", l.Caption()).EndObject();
  j.EndArray();

  j.Key("txtField").BeginArray().Null();
  for (std::size_t i = 1; i < s.txtField.size(); ++i) {
    const TextBox& t = s.txtField[i];
    j.BeginObject()
        .Field("Text", t.Text())
        .Field("Visible", t.Visible())
        .Field("Enabled", t.Enabled())
        .Field("BackColor", SystemColorText(t.BackColor()))
        .Field("SelStart", t.SelStart())
        .Field("SelLength", t.SelLength())
        .EndObject();
  }
  j.EndArray();

  j.Key("DTPicker1").BeginArray();
  for (const DatePicker& p : s.DTPicker1) {
    j.BeginObject()
        .Field("Value", PickerDate(p.Value()))
        .Field("MinDate", PickerDate(p.MinDate()))
        .Field("MaxDate", PickerDate(p.MaxDate()))
        .Field("Visible", p.Visible())
        .Field("Enabled", p.Enabled())
        .Field("Tag", p.Tag())
        .EndObject();
  }
  j.EndArray();

  for (const ComboBox* c : {&s.cboTerm, &s.cboType, &s.cboBitwise, &s.cboAPRType, &s.cboAccessLevel,
                            &s.cboBanckAccType}) {
    j.Key(c->Name());
    ComboBoxJson(j, *c);
  }
  for (const CheckBox* c : {&s.chkTravel, &s.chkDT}) {
    j.Key(c->Name());
    CheckBoxJson(j, *c);
  }
  for (const CommandButton* b : {&s.cmdAdd, &s.cmdEdit, &s.cmdDelete}) {
    j.Key(b->Name());
    ButtonJson(j, *b);
  }
  j.Key("lblVersionNo").BeginObject().Field("Caption", s.lblVersionNo.Caption()).EndObject();
  j.Key("picMain").BeginObject().Field("Height", s.picMain.Height()).EndObject();
  j.EndObject();
}

void RecordSetsJson(std::string& out, const FeeRecordSets& sets) {
  out += '{';
  for (int index = 1; index <= kRecordSetCount; ++index) {
    if (index > 1) out += ',';
    AppendJsonString(out, std::to_string(index));
    out += ":[";
    const RecordSet& rs = sets(index);
    const std::vector<FieldDef>& fields = rs.FieldDefs();
    bool firstRecord = true;
    rs.ForEachRecord([&](const std::vector<Value>& record) {
      if (!firstRecord) out += ',';
      firstRecord = false;
      out += '{';
      for (std::size_t f = 0; f < fields.size(); ++f) {
        if (f > 0) out += ',';
        AppendJsonString(out, fields[f].name);
        out += ':';
        if (f < record.size()) {
          AppendJsonValue(out, record[f]);
        } else {
          out += "null";
        }
      }
      out += '}';
    });
    out += ']';
  }
  out += '}';
}

}  // namespace

void AppendJsonValue(std::string& out, const Value& value) {
  std::visit(
      [&out](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          out += "null";
        } else if constexpr (std::is_same_v<T, bool>) {
          out += v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::int32_t>) {
          out += std::to_string(v);
        } else if constexpr (std::is_same_v<T, float>) {
          AppendJsonSingle(out, v);
        } else if constexpr (std::is_same_v<T, double>) {
          AppendJsonDouble(out, v);
        } else if constexpr (std::is_same_v<T, Money>) {
          AppendJsonMoney(out, v.Units());
        } else if constexpr (std::is_same_v<T, DateTime>) {
          AppendJsonString(out, DateToIso(v));
        } else {
          AppendJsonString(out, v);
        }
      },
      value.storage());
}

std::string DumpEvent(const HarnolFeesCtlCenter& control) {
  JsonBuilder j;
  j.BeginObject().Field("event", "dump");
  j.Key("control");
  ControlJson(j, control.state());
  j.Key("widgets");
  WidgetsJson(j, control.surface());
  std::string out = j.Take();
  out += ",\"recordsets\":";
  RecordSetsJson(out, control.recordSets());
  out += '}';
  return out;
}

}  // namespace harnolfees::driver
