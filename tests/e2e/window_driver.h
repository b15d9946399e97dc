// window_driver.h - drives the real TForm1 the way a person does: pick a
// method in the drop-down list, type argument lines, press "Go", read
// ResultsList and the error fields.
#pragma once

#include "tform1.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace e2e {

class WindowDriver {
  public:
    explicit WindowDriver(TForm1& form) : FForm(form) {}

    // Selects `method` (false when the list does not offer it), puts `lines`
    // into Parameters and presses "Go".
    bool go(const QString& method, const QStringList& lines = {}) {
        const int index = FForm.MethodsComboBox->findText(method, Qt::MatchExactly);
        if (index < 0)
            return false;
        FForm.MethodsComboBox->setCurrentIndex(index);
        FForm.Parameters->setPlainText(lines.join(u'\n'));
        FForm.ToolKitButton->click();
        return true;
    }

    QStringList results() const { return FForm.ResultsList->lines(); }
    QString errorCode() const { return FForm.ErrorCode->text(); }
    QString message() const { return FForm.Message->text(); }

    // The value of the "Name = Value" line for `name` in ResultsList; a null
    // string when there is none.
    QString value(const QString& name) const {
        const QString prefix = name + QStringLiteral(" = ");
        for (const QString& line : results())
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        return {};
    }

    // Asks IsBusy until it answers "False"; false when it never did in time.
    bool waitIdle(int timeoutMs = 60000) {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (!go(QStringLiteral("IsBusy")))
                return false;
            if (results() == QStringList{QStringLiteral("False")})
                return true;
            QTest::qWait(20);
        }
        return false;
    }

    // Runs a command and waits for it to finish; returns GetLastCommandError's
    // answer ("0": it succeeded), or what the window showed when the command
    // was not accepted.
    QString command(const QString& method, const QStringList& lines = {}) {
        if (!go(method, lines))
            return QStringLiteral("not offered: ") + method;
        if (results() != QStringList{QStringLiteral("Pending command accepted")})
            return QStringLiteral("refused: %1 %2").arg(errorCode(), message());
        if (!waitIdle())
            return QStringLiteral("still busy");
        go(QStringLiteral("GetLastCommandError"));
        return results().value(0);
    }

  private:
    TForm1& FForm;
};

} // namespace e2e
