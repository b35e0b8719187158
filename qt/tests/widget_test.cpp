// Widget tests of the fee editor, run offscreen. Message boxes go through an
// injected presenter, so nothing blocks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <deque>

#include "harnolfees/qt/fees_widget.hpp"
#include "support/test_http_server.hpp"

namespace {

using harnolfees::msgbox::kAnswerNo;
using harnolfees::msgbox::kAnswerOk;
using harnolfees::msgbox::kAnswerYes;
using harnolfees::qt::HarnolFeesWidget;
using harnolfees::testing::TestHttpServer;

const char* kDocument = R"(<?xml version="1.0"?>
<FEES>
  <TERM><T>12</T><T>24</T><T>36</T></TERM>
  <CTYPE><ID>0</ID><Description>Standard</Description></CTYPE>
  <CTYPE><ID>1</ID><Description>Premium</Description></CTYPE>
  <BVALUE><ID>1</ID><Description>Visa</Description></BVALUE>
  <APRTYPE><ID>1</ID><Description>Fixed</Description></APRTYPE>
  <ACCESSLEVEL><D>Silver</D><ID>2</ID></ACCESSLEVEL>
  <ACCESSLEVEL><D>Gold</D><ID>3</ID></ACCESSLEVEL>
  <ACCESSLEVEL><D>Travel</D><ID>4</ID></ACCESSLEVEL>
  <SHOWTravelOption/>
  <T1><CenterID>7</CenterID><Effectivity>2004-01-01T00:00:00</Effectivity><MembershipFee>1250</MembershipFee><Term>12</Term><MembershipRoyalty>0.05</MembershipRoyalty><MinimumRoyalty>100</MinimumRoyalty><RoyaltyReserve>0.1</RoyaltyReserve></T1>
  <T8><CenterID>7</CenterID><Effectivity>2004-01-01T00:00:00</Effectivity><MembershipRenewalFee>300</MembershipRenewalFee><CenterPortion>0.5</CenterPortion><MemberAccessLevelDescription>Gold</MemberAccessLevelDescription><MemberAccessLevelID>3</MemberAccessLevelID><TravelMembership>0</TravelMembership></T8>
  <T8><CenterID>7</CenterID><Effectivity>2004-01-01T00:00:00</Effectivity><MembershipRenewalFee>350</MembershipRenewalFee><CenterPortion>0.45</CenterPortion><MemberAccessLevelDescription>Gold</MemberAccessLevelDescription><MemberAccessLevelID>3</MemberAccessLevelID><TravelMembership>1</TravelMembership></T8>
  <T9><ObjectID>7</ObjectID><Type>1</Type><Effectivity>2004-01-01T00:00:00</Effectivity><RoutingNumber>021000021</RoutingNumber><AccountNumber>123456789</AccountNumber><SweepSpan>30</SweepSpan><Opened>2004-01-01T00:00:00</Opened><Closed></Closed></T9>
  <T15><BankAccountTypeID>1</BankAccountTypeID><Description>Operating</Description></T15>
  <T15><BankAccountTypeID>2</BankAccountTypeID><Description>Payroll</Description></T15>
</FEES>)";

struct Shown {
  std::string prompt;
  int buttons;
  std::string title;
};

class WidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.SetDocument(kDocument);
    widget = std::make_unique<HarnolFeesWidget>();
    widget->SetMessagePresenter([this](const std::string& p, int b, const std::string& t) {
      shown.push_back({p, b, t});
      if ((b & 0x0F) != harnolfees::msgbox::kYesNo) return kAnswerOk;
      if (answers.empty()) return kAnswerNo;
      int a = answers.front();
      answers.pop_front();
      return a;
    });
    widget->show();
    widget->LoadData(server.BaseUrl(), 7, "3/15/2004");
    Settle();
  }

  void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }

  template <typename W>
  W* Child(const char* name) {
    auto* w = widget->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  void ClickTab(int tab) {
    QTest::mouseClick(Child<QToolButton>(QString("tabFees(%1)").arg(tab).toUtf8()), Qt::LeftButton);
    Settle();
  }

  void Click(const char* name) {
    QTest::mouseClick(Child<QPushButton>(name), Qt::LeftButton);
    Settle();
  }

  void Type(int slot, const QString& text) {
    auto* edit = Child<QLineEdit>(QString("txtField(%1)").arg(slot).toUtf8());
    edit->setFocus();
    Settle();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    Settle();
  }

  void SelectCell(int row, int col = 0) {
    auto* grid = Child<QTableView>("grdFees");
    grid->setCurrentIndex(grid->model()->index(row - 1, col));
    Settle();
  }

  QString Cell(int row, int col) {
    auto* grid = Child<QTableView>("grdFees");
    return grid->model()->index(row - 1, col).data().toString();
  }

  TestHttpServer server;
  std::unique_ptr<HarnolFeesWidget> widget;
  std::vector<Shown> shown;
  std::deque<int> answers;
};

TEST_F(WidgetTest, AddAndSaveOnTabOnePostsTheInsertAndShowsTheRecord) {
  EXPECT_EQ(Cell(1, 1), "1,250.00");
  Click("cmdAdd");
  EXPECT_EQ(Child<QPushButton>("cmdAdd")->text(), "&Save");
  Child<QDateEdit>("DTPicker1(0)")->setDate(QDate(2005, 2, 1));
  Type(1, "1500");
  auto* term = Child<QComboBox>("cboTerm");
  term->setCurrentIndex(1);
  emit term->activated(1);
  Type(3, "5");
  Type(4, "100");
  Type(5, "10");
  Click("cmdAdd");
  ASSERT_TRUE(shown.empty()) << shown.front().prompt;
  auto statements = server.ReceivedStatements();
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(statements[0],
            " INSERT INTO MembershipFee ( CenterID, EffectivityDate, MembershipFee,  Term, "
            "MembershipRoyalty, MinimumRoyalty, RoyaltyReserve, RecordLastUpdated)  VALUES (7, "
            "'02/01/2005', 1500, 24, 0.05, 100, 0.1,  GETDATE()) ");
  EXPECT_EQ(Child<QPushButton>("cmdAdd")->text(), "&Add");
  EXPECT_EQ(Cell(2, 0), "Feb 01, 2005");
  EXPECT_EQ(Cell(2, 1), "1,500.00");
}

TEST_F(WidgetTest, LeavingTheMembershipFeeBoxFormatsTheNumber) {
  Click("cmdAdd");
  Type(1, "1234.5");
  Child<QLineEdit>("txtField(3)")->setFocus();
  Settle();
  EXPECT_EQ(Child<QLineEdit>("txtField(1)")->text(), "1,234.50");
}

TEST_F(WidgetTest, EditingABankAccountWithTheClosingDateBox) {
  ClickTab(9);
  SelectCell(1, 0);
  Click("cmdEdit");
  EXPECT_EQ(Child<QComboBox>("cboBanckAccType")->currentText(), "Operating");
  auto* chk = Child<QCheckBox>("chkDT");
  ASSERT_TRUE(chk->isEnabled());
  EXPECT_FALSE(Child<QDateEdit>("DTPicker1(2)")->isVisible());
  QTest::mouseClick(chk, Qt::LeftButton, {}, QPoint(5, 5));
  Settle();
  auto* closed = Child<QDateEdit>("DTPicker1(2)");
  EXPECT_TRUE(closed->isVisible());
  closed->setDate(QDate(2004, 6, 30));
  Click("cmdAdd");
  ASSERT_TRUE(shown.empty()) << shown.front().prompt;
  auto statements = server.ReceivedStatements();
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_NE(statements[0].find(", Closed = '06/30/2004'"), std::string::npos) << statements[0];
  EXPECT_EQ(Cell(1, 6), "Jun 30, 2004");
}

TEST_F(WidgetTest, SwitchingTabsInTheMiddleOfAnAddKeepsTheTypedText) {
  ClickTab(2);
  Click("cmdAdd");
  Type(1, "150");
  ClickTab(3);
  EXPECT_EQ(Child<QPushButton>("cmdAdd")->text(), "&Add");
  ClickTab(2);
  EXPECT_EQ(Child<QPushButton>("cmdAdd")->text(), "&Save");
  EXPECT_EQ(Child<QLineEdit>("txtField(1)")->text(), "150");
}

TEST_F(WidgetTest, AnsweringTheDeletionQuestion) {
  ClickTab(4);
  Click("cmdAdd");
  Child<QDateEdit>("DTPicker1(0)")->setDate(QDate(2004, 4, 1));
  Type(1, "75");
  Click("cmdAdd");
  ASSERT_EQ(Cell(1, 1), "75.00");
  SelectCell(1, 0);
  answers.push_back(kAnswerNo);
  Click("cmdDelete");
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().prompt, "Do you want to Delete the Record?");
  EXPECT_EQ(Cell(1, 1), "75.00");
  answers.push_back(kAnswerYes);
  Click("cmdDelete");
  auto statements = server.ReceivedStatements();
  ASSERT_EQ(statements.size(), 2u);
  EXPECT_EQ(statements[1].rfind(" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '", 0),
            0u);
  EXPECT_EQ(Cell(1, 1), "");
}

TEST_F(WidgetTest, KeyboardSavesWithEnterAndCancelsWithEscape) {
  ClickTab(4);
  Click("cmdAdd");
  Child<QDateEdit>("DTPicker1(0)")->setDate(QDate(2004, 5, 1));
  Type(1, "80");
  QTest::keyClick(Child<QLineEdit>("txtField(1)"), Qt::Key_Return);
  Settle();
  EXPECT_EQ(server.ReceivedStatements().size(), 1u);
  Click("cmdAdd");
  QTest::keyClick(Child<QDateEdit>("DTPicker1(0)"), Qt::Key_Escape);
  Settle();
  EXPECT_EQ(Child<QPushButton>("cmdAdd")->text(), "&Add");
}

TEST_F(WidgetTest, ScreenshotsOfTabsOneEightAndNine) {
  QDir().mkpath(HARNOLFEES_SCREENSHOT_DIR);
  for (int tab : {1, 8, 9}) {
    ClickTab(tab);
    QImage image = widget->grab().toImage();
    EXPECT_EQ(image.width(), HarnolFeesWidget::Px(8670));
    QString path = QString(HARNOLFEES_SCREENSHOT_DIR "/tab%1.png").arg(tab);
    EXPECT_TRUE(image.save(path)) << path.toStdString();
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Stable images: one style, one device pixel ratio.
  qputenv("QT_SCALE_FACTOR", "1");
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QApplication app(argc, argv);
  QApplication::setApplicationName("HarnolFeesCenter");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
