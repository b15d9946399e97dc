// catalogue.cpp - the window's dispatch over the method table, and "Go".
#include "tform1.h"

#include <QComboBox>

void TForm1::CreateCatalogue() {
    // One dispatch entry per row of the method table; the rows outlive the form.
    for (const methods::Entry& entry : methods::all())
        MethodList->push_back(
            std::make_unique<Method>(entry.name, [this, &entry] { RunMethod(entry); }));
}

void TForm1::InvokeMethod(const QString& name) {
    if (MethodList)
        invokeFirst(*MethodList, name);
}

void TForm1::MethodsComboBoxSelect(QObject* /*sender*/) {
    // The selected item's text, or empty text when none is selected.
    InvokeMethod(MethodsComboBox->currentText());
}
