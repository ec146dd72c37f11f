// The Find dialog on a window with a scripted port: the search fills the result list, and a
// result whose file is found loads as Load does.
#include <QKeySequence>
#include <filesystem>

#include "app/FindDialog.h"
#include "support/IndexLines.h"
#include "support/TestFiles.h"
#include "widgets/FormFixture.h"

namespace quelmar::testing {
namespace {

class FindDialogTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    LineSpec a;
    a.id = "M7000CE";
    a.file = "DATA/EDR/2010066/WAC/M7000CE.IMG";
    LineSpec b = a;
    b.id = "M7001CE";
    b.file = "M7001CE.IMG";
    b.start = "2009-01-01T00:00:00.000";
    form->IndexFilePath = dir.File("CUMINDEX.TAB");
    WriteFileBytes(form->IndexFilePath, IndexLine(a) + "\r\n" + IndexLine(b) + "\r\nshort\r\n");
  }
  void WriteProduct(const std::string& path, const std::string& id) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFileBytes(path, ProductBytes(MakeProduct(id, 4, 78, 32,
                                                  "(321 <nm>, 360 <nm>, 415 <nm>, 566 <nm>, "
                                                  "604 <nm>, 643 <nm>, 689 <nm>)")));
  }
  TempDir dir;
};

TEST_F(FindDialogTest, TheButtonSitsBesideClearAndOpensWithCtrlF) {
  EXPECT_EQ(form->Find_Button->geometry(), QRect(800, 96, 49, 25));
  EXPECT_EQ(form->Find_Button->text(), QStringLiteral("Find"));
  EXPECT_EQ(form->Find_Button->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
  // In the tab order right after the picture frame (and what the frame holds) and the controls
  // of the strip under it.
  QWidget* next = form->ScrollBox1->nextInFocusChain();
  while (next != nullptr &&
         (form->ScrollBox1->isAncestorOf(next) || form->BottomStrip->isAncestorOf(next) ||
          !(next->focusPolicy() & Qt::TabFocus))) {
    next = next->nextInFocusChain();
  }
  EXPECT_EQ(next, form->Find_Button);
}

TEST_F(FindDialogTest, SearchListsHitsByTimeAndLoadsTheChosenOne) {
  FindDialog dialog(form.get());
  dialog.Latitude_Edit->setText(QStringLiteral("15"));
  dialog.Longitude_Edit->setText(QStringLiteral("35"));
  dialog.Search_Button->click();
  ASSERT_EQ(dialog.Results_Table->rowCount(), 2);
  EXPECT_EQ(dialog.Results_Table->item(0, 0)->text(), QStringLiteral("M7001CE"));
  EXPECT_EQ(dialog.Results_Table->item(1, 2)->text(), QStringLiteral("61.12"));
  EXPECT_EQ(dialog.Status_Label->text(),
            QStringLiteral("2 products found; 3 index lines read, 1 skipped (too short or "
                           "unreadable)"));

  // Not on disk yet: the dialog says so and stays.
  dialog.Results_Table->selectRow(1);
  ASSERT_TRUE(dialog.LoadResult_Button->isEnabled());
  dialog.LoadResult_Button->click();
  EXPECT_TRUE(dialog.Status_Label->text().contains(QStringLiteral("not found")));
  EXPECT_EQ(form->Product.ProductId, "");

  // At the place the index gives, relative to the index's folder.
  WriteProduct(dir.File("DATA/EDR/2010066/WAC/M7000CE.IMG"), "M7000CE");
  dialog.LoadResult_Button->click();
  EXPECT_EQ(form->Product.ProductId, "M7000CE");
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(form->LastProductFolder, dir.File("DATA/EDR/2010066/WAC/"));
  EXPECT_TRUE(MemoLines().join(QLatin1Char('\n')).contains(QStringLiteral("M7000CE")));

  // In the folder of the last product loaded.
  WriteProduct(dir.File("DATA/EDR/2010066/WAC/M7001CE.IMG"), "M7001CE");
  FindDialog again(form.get());
  again.Latitude_Edit->setText(QStringLiteral("15"));
  again.Longitude_Edit->setText(QStringLiteral("35"));
  again.Kind_CheckBoxes[3]->setChecked(true);
  again.To_Edit->setText(QStringLiteral("2009-12-31"));
  again.Search_Button->click();
  ASSERT_EQ(again.Results_Table->rowCount(), 1);
  again.Results_Table->selectRow(0);
  again.LoadResult_Button->click();
  EXPECT_EQ(form->Product.ProductId, "M7001CE");
}

TEST_F(FindDialogTest, FieldsThatCannotBeSearchedAreNamed) {
  FindDialog dialog(form.get());
  const struct {
    const char *lat, *lon, *incidenceMin, *incidenceMax, *from;
    const char* says;
  } cases[] = {
      {"", "35", "", "", "", "give the latitude and the longitude"},
      {"91", "35", "", "", "", "latitude"},
      {"15", "x", "", "", "", "does not hold a number"},
      {"15", "35", "70", "60", "", "inverted"},
      {"15", "35", "", "", "2010-02-30", "is not a date"},
  };
  for (const auto& c : cases) {
    dialog.Latitude_Edit->setText(QString::fromLatin1(c.lat));
    dialog.Longitude_Edit->setText(QString::fromLatin1(c.lon));
    dialog.IncidenceMin_Edit->setText(QString::fromLatin1(c.incidenceMin));
    dialog.IncidenceMax_Edit->setText(QString::fromLatin1(c.incidenceMax));
    dialog.From_Edit->setText(QString::fromLatin1(c.from));
    dialog.Search_Button->click();
    EXPECT_TRUE(dialog.Status_Label->text().startsWith(QStringLiteral("Cannot search: ")));
    EXPECT_TRUE(dialog.Status_Label->text().contains(QString::fromLatin1(c.says)))
        << dialog.Status_Label->text().toStdString();
    EXPECT_EQ(dialog.Results_Table->rowCount(), 0);
  }
}

}  // namespace
}  // namespace quelmar::testing
