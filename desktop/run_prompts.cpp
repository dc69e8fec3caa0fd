#include "desktop/run_prompts.h"

#include <QAbstractButton>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QValidator>
#include <QWidget>

#include <algorithm>
#include <cstddef>

#include "bl/secret.h"
#include "desktop/conversion_controller.h"

namespace bl::desktop {

namespace {

// Keeps what is typed or pasted into the password field within the bytes (in
// UTF-8) that a PDF password can use, ending before a character that would not
// fit whole.
class PasswordBytesValidator : public QValidator {
  public:
    using QValidator::QValidator;

    State validate(QString& input, int& position) const override {
        std::size_t bytes = 0;
        for (qsizetype i = 0; i < input.size(); ++i) {
            const char16_t unit = input.at(i).unicode();
            const bool pair = QChar::isHighSurrogate(unit) && i + 1 < input.size() &&
                              input.at(i + 1).isLowSurrogate();
            const std::size_t length = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
            if (bytes + length > kMaxPasswordBytes) {
                input.truncate(i);
                position = std::min(position, static_cast<int>(i));
                break;
            }
            bytes += length;
            i += pair ? 1 : 0;
        }
        return Acceptable;
    }
};

}  // namespace

RunPrompts::RunPrompts(ConversionController& controller, QWidget* window)
    : QObject(window), controller_(controller), window_(window) {
    // Not inside the controller's signal: a dialog's own event loop must not run
    // while the controller is still emitting.
    connect(&controller_, &ConversionController::passwordRequired, this,
            [this](qulonglong id, const QString& fileName, bool previousAttemptWrong) {
                QTimer::singleShot(0, this, [this, id, fileName, previousAttemptWrong] {
                    askForPassword(id, fileName, previousAttemptWrong);
                });
            });
    connect(&controller_, &ConversionController::existingFilesFound, this,
            [this](qulonglong id, const QString& message) {
                QTimer::singleShot(0, this,
                                   [this, id, message] { askAboutExistingFiles(id, message); });
            });
}

void RunPrompts::askForPassword(quint64 id, const QString& fileName, bool previousAttemptWrong) {
    // The run may have been cancelled before the prompt got its turn.
    if (controller_.pendingJob() != id) {
        return;
    }
    QPointer<QInputDialog> dialog = new QInputDialog(window_);
    dialog->setObjectName(QStringLiteral("passwordDialog"));
    dialog->setWindowTitle(tr("Password required"));
    dialog->setLabelText(
        previousAttemptWrong
            ? tr("That password did not open \u201C%1\u201D. Try again:").arg(fileName)
            : tr("\u201C%1\u201D is password-protected. Enter its password to convert it:")
                  .arg(fileName));
    dialog->setInputMode(QInputDialog::TextInput);
    dialog->setTextEchoMode(QLineEdit::Password);
    if (auto* field = dialog->findChild<QLineEdit*>()) {
        field->setValidator(new PasswordBytesValidator(field));
    }
    dialog->setOkButtonText(tr("Convert"));
    dialog->setCancelButtonText(tr("Skip this file"));
    dialog->setModal(true);
    // From here on the process may hold a password, which no core dump may carry.
    bl::disable_core_dumps();

    const bool accepted = dialog->exec() == QDialog::Accepted;
    // The window, and this object with it, may have gone meanwhile.
    if (dialog.isNull()) {
        return;
    }
    QString password = accepted ? dialog->textValue() : QString();
    dialog->setTextValue(QString());
    delete dialog.data();

    if (!password.isEmpty()) {
        controller_.providePassword(id, password);
        password.fill(QChar(0));
    } else {
        controller_.skipFile(id);
    }
}

void RunPrompts::askAboutExistingFiles(quint64 id, const QString& message) {
    if (controller_.pendingJob() != id) {
        return;
    }
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Question, tr("Files already exist"),
                                                message, QMessageBox::NoButton, window_);
    box->setObjectName(QStringLiteral("existingFilesBox"));
    box->setInformativeText(tr("Your choice applies to the rest of this conversion."));
    QPushButton* replace = box->addButton(tr("Replace"), QMessageBox::DestructiveRole);
    QPushButton* keepBoth = box->addButton(tr("Keep both"), QMessageBox::AcceptRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(keepBoth);

    box->exec();
    if (box.isNull()) {
        return;
    }
    const QAbstractButton* clicked = box->clickedButton();
    delete box.data();

    bl::ExistingFilePolicy policy = bl::ExistingFilePolicy::Ask;
    if (clicked == replace) {
        policy = bl::ExistingFilePolicy::Replace;
    } else if (clicked == keepBoth) {
        policy = bl::ExistingFilePolicy::KeepBoth;
    }
    controller_.resolveExisting(id, policy);
}

}  // namespace bl::desktop
