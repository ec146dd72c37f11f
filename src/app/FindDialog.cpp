#include "app/FindDialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/QtUserPort.h"
#include "app/QuelmarForm.h"
#include "support/IndexLookup.h"
#include "util/Numbers.h"
#include "util/Paths.h"
#include "util/WinOps.h"

namespace {

QLineEdit* MakeEdit(const char* hint, int width = 70) {
  auto* edit = new QLineEdit;
  edit->setToolTip(QString::fromLatin1(hint));
  edit->setFixedWidth(width);
  return edit;
}

QLabel* Caption(const char* text, QWidget* buddy) {
  auto* label = new QLabel(QString::fromLatin1(text));
  label->setBuddy(buddy);
  return label;
}

// A number as the entry fields read one: blanks trimmed, a comma taken for the period. Nothing
// for an empty field; `ok` false for one that does not read.
std::optional<quelmar::Real> FieldNumber(const QLineEdit* edit, bool& ok) {
  std::string text = quelmar::TrimBlanks(edit->text().toStdString());
  if (text.empty()) return std::nullopt;
  std::replace(text.begin(), text.end(), ',', '.');
  const quelmar::RealParse parsed = quelmar::ParseReal(text);
  if (!parsed.ok()) {
    ok = false;
    return std::nullopt;
  }
  return parsed.value;
}

}  // namespace

FindDialog::FindDialog(TQuelmar_Form* form) : QDialog(form), form_(form) {
  setWindowTitle(QStringLiteral("Find products by place and light"));
  setObjectName(QStringLiteral("FindDialog"));

  Latitude_Edit = MakeEdit("Planetocentric latitude of the place, -90 to 90 degrees (north +)");
  Longitude_Edit = MakeEdit("East longitude of the place, -180 to 180 or 0 to 360 degrees");
  IncidenceMin_Edit = MakeEdit("Smallest solar incidence angle at the place, degrees (optional)");
  IncidenceMax_Edit = MakeEdit("Largest solar incidence angle at the place, degrees (optional)");
  EmissionMax_Edit = MakeEdit("Largest emission angle at the place, degrees (optional)");
  NearIncidence_Edit = MakeEdit(
      "List the products whose incidence is closest to this angle first (empty: by start time)");
  From_Edit = MakeEdit("Earliest start, e.g. 2010-03-07 or 2010-03-07T10:00:00 (optional)", 140);
  To_Edit = MakeEdit("Latest start, e.g. 2011-12-31 (the whole day) (optional)", 140);

  auto* grid = new QGridLayout;
  grid->addWidget(Caption("Latitude (deg N)", Latitude_Edit), 0, 0);
  grid->addWidget(Latitude_Edit, 0, 1);
  grid->addWidget(Caption("Longitude (deg E)", Longitude_Edit), 0, 2);
  grid->addWidget(Longitude_Edit, 0, 3);
  grid->addWidget(Caption("Incidence from", IncidenceMin_Edit), 1, 0);
  grid->addWidget(IncidenceMin_Edit, 1, 1);
  grid->addWidget(Caption("to", IncidenceMax_Edit), 1, 2);
  grid->addWidget(IncidenceMax_Edit, 1, 3);
  grid->addWidget(Caption("Emission up to", EmissionMax_Edit), 1, 4);
  grid->addWidget(EmissionMax_Edit, 1, 5);
  grid->addWidget(Caption("Start from", From_Edit), 2, 0);
  grid->addWidget(From_Edit, 2, 1);
  grid->addWidget(Caption("to", To_Edit), 2, 2);
  grid->addWidget(To_Edit, 2, 3);
  grid->addWidget(Caption("Sort near incidence", NearIncidence_Edit), 2, 4);
  grid->addWidget(NearIncidence_Edit, 2, 5);
  auto* kinds = new QHBoxLayout;
  kinds->addWidget(new QLabel(QStringLiteral("Kinds")));
  const char* const kKindNames[4] = {"ME", "UE", "VE", "CE"};
  for (int i = 0; i < 4; ++i) {
    Kind_CheckBoxes[i] = new QCheckBox(QString::fromLatin1(kKindNames[i]));
    Kind_CheckBoxes[i]->setChecked(true);
    kinds->addWidget(Kind_CheckBoxes[i]);
  }
  kinds->addStretch();
  grid->addLayout(kinds, 3, 0, 1, 4);
  grid->setColumnStretch(6, 1);

  Search_Button = new QPushButton(QStringLiteral("Search"));
  Search_Button->setDefault(true);
  Status_Label = new QLabel;
  Status_Label->setObjectName(QStringLiteral("FindStatus"));
  Status_Label->setWordWrap(true);
  auto* searchRow = new QHBoxLayout;
  searchRow->addWidget(Search_Button);
  searchRow->addWidget(Status_Label, 1);

  Results_Table = new QTableWidget(0, 6);
  Results_Table->setHorizontalHeaderLabels({QStringLiteral("Product"), QStringLiteral("Start time"),
                                            QStringLiteral("Incidence"), QStringLiteral("Emission"),
                                            QStringLiteral("Pixel (m)"), QStringLiteral("File")});
  Results_Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Results_Table->setSelectionMode(QAbstractItemView::SingleSelection);
  Results_Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Results_Table->verticalHeader()->setVisible(false);
  Results_Table->horizontalHeader()->setStretchLastSection(true);

  LoadResult_Button = new QPushButton(QStringLiteral("Load"));
  LoadResult_Button->setToolTip(QStringLiteral("Load the selected product as Load does"));
  LoadResult_Button->setEnabled(false);
  Close_Button = new QPushButton(QStringLiteral("Close"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(LoadResult_Button);
  buttons->addWidget(Close_Button);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(searchRow);
  layout->addWidget(Results_Table, 1);
  layout->addLayout(buttons);
  resize(780, 460);

  connect(Search_Button, &QPushButton::clicked, this, &FindDialog::Search_ButtonClick);
  connect(LoadResult_Button, &QPushButton::clicked, this, &FindDialog::LoadResult_ButtonClick);
  connect(Close_Button, &QPushButton::clicked, this, &QDialog::reject);
  connect(Results_Table, &QTableWidget::itemSelectionChanged, this,
          [this] { LoadResult_Button->setEnabled(!Results_Table->selectedItems().isEmpty()); });
  connect(Results_Table, &QTableWidget::cellDoubleClicked, this,
          [this](int, int) { LoadResult_ButtonClick(); });
}

std::optional<quelmar::SearchRequest> FindDialog::ReadRequest() {
  quelmar::SearchRequest r;
  bool ok = true;
  const std::optional<quelmar::Real> lat = FieldNumber(Latitude_Edit, ok);
  const std::optional<quelmar::Real> lon = FieldNumber(Longitude_Edit, ok);
  r.incidenceMin = FieldNumber(IncidenceMin_Edit, ok);
  r.incidenceMax = FieldNumber(IncidenceMax_Edit, ok);
  r.emissionMax = FieldNumber(EmissionMax_Edit, ok);
  r.nearIncidence = FieldNumber(NearIncidence_Edit, ok);
  std::string problem;
  if (!ok) problem = "a field does not hold a number";
  if (problem.empty() && (!lat || !lon)) problem = "give the latitude and the longitude";
  const std::pair<QLineEdit*, bool> dates[2] = {{From_Edit, false}, {To_Edit, true}};
  for (const auto& [edit, endOfDay] : dates) {
    const std::string text = quelmar::TrimBlanks(edit->text().toStdString());
    if (text.empty() || !problem.empty()) continue;
    const std::optional<quelmar::IndexTime> t = quelmar::ParseSearchDate(text, endOfDay);
    if (!t) problem = "\"" + text + "\" is not a date such as 2010-03-07 or 2010-03-07T10:00:00";
    (endOfDay ? r.to : r.from) = t;
  }
  r.kinds = 0;
  const uint32_t kBits[4] = {quelmar::kKindME, quelmar::kKindUE, quelmar::kKindVE,
                             quelmar::kKindCE};
  for (int i = 0; i < 4; ++i) {
    if (Kind_CheckBoxes[i]->isChecked()) r.kinds |= kBits[i];
  }
  if (problem.empty()) {
    r.point = {*lat, *lon};
    problem = quelmar::SearchRequestProblem(r);
  }
  if (!problem.empty()) {
    Status_Label->setText(QStringLiteral("Cannot search: ") + quelmar::ToQString(problem));
    return std::nullopt;
  }
  return r;
}

void FindDialog::Search_ButtonClick() {
  const std::optional<quelmar::SearchRequest> request = ReadRequest();
  if (!request) return;
  form_->RunCommand([this, &request] {
    if (!quelmar::FindIndexFile(form_->IndexFilePath, form_->Port())) {
      Status_Label->setText(QStringLiteral("Index file not found"));
      return;
    }
    quelmar::SearchResult result;
    {
      quelmar::BusyCursor busy(form_->Port());
      result = quelmar::SearchIndex(form_->IndexFilePath, *request);
    }
    searchedIndex_ = form_->IndexFilePath;
    ShowHits(result);
  });
}

void FindDialog::ShowHits(const quelmar::SearchResult& result) {
  hits_ = result.hits;
  Results_Table->clearContents();
  Results_Table->setRowCount(static_cast<int>(hits_.size()));
  for (int row = 0; row < static_cast<int>(hits_.size()); ++row) {
    const quelmar::SearchHit& h = hits_[static_cast<size_t>(row)];
    const QString cells[6] = {quelmar::ToQString(h.productId),
                              quelmar::ToQString(h.startTime),
                              quelmar::ToQString(quelmar::FormatFixed(h.incidence, 2)),
                              quelmar::ToQString(quelmar::FormatFixed(h.emission, 2)),
                              quelmar::ToQString(quelmar::FormatFixed(h.pixelSize, 1)),
                              quelmar::ToQString(h.fileName)};
    for (int column = 0; column < 6; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      if (column >= 2 && column <= 4) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      Results_Table->setItem(row, column, item);
    }
  }
  Results_Table->resizeColumnsToContents();
  LoadResult_Button->setEnabled(false);
  std::string status = quelmar::FormatInt(result.matches) +
                       (result.matches == 1 ? " product" : " products") + " found; " +
                       quelmar::FormatInt(result.lines) + " index lines read";
  if (result.skippedLines > 0) {
    status += ", " + quelmar::FormatInt(result.skippedLines) + " skipped (too short or unreadable)";
  }
  Status_Label->setText(quelmar::ToQString(status));
}

void FindDialog::LoadResult_ButtonClick() {
  const QList<QTableWidgetItem*> selected = Results_Table->selectedItems();
  if (selected.isEmpty()) return;
  const int row = selected.front()->row();
  if (row < 0 || row >= static_cast<int>(hits_.size())) return;
  const quelmar::SearchHit& hit = hits_[static_cast<size_t>(row)];
  const std::optional<std::string> path =
      quelmar::LocateHitFile(hit, searchedIndex_, form_->LastProductFolder);
  if (!path) {
    const std::string name = hit.fileName.empty() ? hit.productId + ".IMG" : hit.fileName;
    Status_Label->setText(quelmar::ToQString(
        name + " not found beside the index, in the folder of the last product loaded or at " +
        "the place the index gives"));
    return;
  }
  accept();
  form_->LoadProductFile(*path);
}
