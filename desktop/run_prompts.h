// The questions a run asks the user: a document's password, and what to do
// about output files that exist already. Each dialog opens once control is back
// in the event loop, never inside the controller's signal, and the answer goes
// back to the controller.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace bl::desktop {

class ConversionController;

class RunPrompts : public QObject {
    Q_OBJECT

  public:
    // The dialogs are modal over `window`, which also owns this object.
    RunPrompts(ConversionController& controller, QWidget* window);

  private:
    void askForPassword(quint64 id, const QString& fileName, bool previousAttemptWrong);
    void askAboutExistingFiles(quint64 id, const QString& message);

    ConversionController& controller_;
    QWidget* window_;
};

}  // namespace bl::desktop
