// help.cpp - the help button: the selected method's prototypes and help text.
#include "tform1.h"

#include <QByteArray>
#include <QComboBox>
#include <QLineEdit>

void TForm1::HelpButtonClick(QObject* /*sender*/) {
    ClearOutputs();
    if (MethodsComboBox->count() == 0)
        return;

    const methods::HelpDisplay display = methods::help(MethodsComboBox->currentText().toUtf8());
    for (const QString& text : display.appends)
        AppendResult(text);
    if (display.error)
        ShowError(display.error->first, display.error->second);
}
