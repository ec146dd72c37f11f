#pragma once
// A window with a scripted user port whose message lines are mirrored into Memo1.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <memory>

#include "app/QuelmarForm.h"
#include "support/ScriptedPort.h"

namespace quelmar::testing {

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TQuelmar_Form>(&port);
    port.lineSink = [this](const std::string& line) {
      form->Memo1->appendPlainText(QString::fromStdString(line));
    };
  }
  void TearDown() override { EXPECT_TRUE(port.ScriptDone()) << "unused dialog answers"; }

  QStringList MemoLines() const {
    const QString text = form->Memo1->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
  }

  ScriptedPort port;  // outlives the window, which reports through it to its end
  std::unique_ptr<TQuelmar_Form> form;
};

}  // namespace quelmar::testing
