#pragma once
// The "Find" dialog: which products of the cumulative index show a place, under which light. The
// user gives the point and the filters, searches, and loads a product of the result list as the
// Load command would.
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <optional>
#include <string>
#include <vector>

#include "support/IndexSearch.h"

class TQuelmar_Form;

class FindDialog : public QDialog {
  Q_OBJECT
 public:
  explicit FindDialog(TQuelmar_Form* form);

  QLineEdit* Latitude_Edit;
  QLineEdit* Longitude_Edit;
  QLineEdit* IncidenceMin_Edit;
  QLineEdit* IncidenceMax_Edit;
  QLineEdit* EmissionMax_Edit;
  QLineEdit* NearIncidence_Edit;
  QLineEdit* From_Edit;
  QLineEdit* To_Edit;
  QCheckBox* Kind_CheckBoxes[4];  // ME, UE, VE, CE
  QPushButton* Search_Button;
  QPushButton* LoadResult_Button;
  QPushButton* Close_Button;
  QTableWidget* Results_Table;
  QLabel* Status_Label;

  // Reads the fields and searches the form's index; the table and the status line show the
  // result, or the status line says what is wrong with the fields.
  void Search_ButtonClick();
  // Loads the product of the selected row through the form's Load, closing the dialog, when its
  // file is found; otherwise the status line says where it was looked for.
  void LoadResult_ButtonClick();

  const std::vector<quelmar::SearchHit>& Hits() const { return hits_; }

 private:
  // The request the fields describe, or nothing (the status line then says why).
  std::optional<quelmar::SearchRequest> ReadRequest();
  void ShowHits(const quelmar::SearchResult& result);

  TQuelmar_Form* form_;
  std::vector<quelmar::SearchHit> hits_;
  std::string searchedIndex_;  // the index the hits come from
};
