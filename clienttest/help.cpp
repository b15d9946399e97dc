// help.cpp - the help button: the selected method's prototypes and help text.
#include "tform1.h"

#include "result_text.h"

#include <QByteArray>
#include <QComboBox>
#include <QLineEdit>

void TForm1::HelpButtonClick(QObject* /*sender*/)
{
    ClearOutputs();
    if (MethodsComboBox->count() == 0)
        return;

    AppendResult(resulttext::prototypesHeading());
    const QByteArray method = MethodsComboBox->currentText().toUtf8();
    // Keeps the heading above the prototype lines.
    ShowListResult(::GetMethodProtoType(method.constData()), false);

    const QByteArray again = MethodsComboBox->currentText().toUtf8();
    const char* help = ::GetMethodHelp(again.constData());
    if (help != nullptr) {
        AppendResult(resulttext::helpLines(help).join(u'\n'));
    } else {
        AppendResult(resulttext::noHelpAvailable());
        ShowLastError();
    }
}
