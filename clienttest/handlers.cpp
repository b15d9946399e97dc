// handlers.cpp - running a method of the catalogue and showing what came back.
#include "tform1.h"

#include "argument_list.h"
#include "result_text.h"
#include "vcl.h"

#include <QLineEdit>

// ---- Presentation -----------------------------------------------------------

void TForm1::ShowError(int32_t code, const QString& text) {
    ErrorCode->setText(resulttext::number(code));
    Message->setText(text);
}

void TForm1::ShowLastError() {
    const int32_t code = ::GetErrorCode();
    ShowError(code, resulttext::fromLibrary(::GetErrorText()));
}

void TForm1::ShowListResult(const NameValueList* list, bool clearResults) {
    ErrorCode->clear();
    Message->clear();
    if (clearResults)
        ResultsList->clear();
    if (list == nullptr) {
        ShowLastError();
        return;
    }
    if (list->count > 0)
        AppendResult(resulttext::listLines(*list));
}

void TForm1::ClearOutputs() {
    ErrorCode->clear();
    Message->clear();
    ResultsList->clear();
}

void TForm1::AppendResult(const QString& lines) {
    ResultsList->appendLines(lines);
}

void TForm1::ShowOutcome(const methods::Outcome& outcome) {
    using Kind = methods::Outcome::Kind;
    ClearOutputs();
    switch (outcome.kind) {
    case Kind::Failed:
        ShowError(outcome.errorCode, outcome.errorText);
        return;
    case Kind::Picture:
        ShowPicture(outcome.bitmap);
        return;
    case Kind::List:
        // Through the list presentation the benchmarks measure.
        ShowListResult(outcome.list, true);
        return;
    case Kind::Accepted:
    case Kind::Number:
    case Kind::Boolean:
    case Kind::Text:
        break;
    }
    if (const std::optional<QString> text = outcome.returns())
        AppendResult(*text);
}

// ---- Dispatch -------------------------------------------------------------------

void TForm1::RunMethod(const methods::Entry& entry) {
    if (!methods::takesArguments(entry.family)) {
        ShowOutcome(methods::call(entry, FArgs));
        return;
    }
    ClearOutputs();
    try {
        if (ParamTypeRadioGroup->ItemIndex() != 2)
            throw vcl::Exception(arguments::structureMustBeSelected());
        BuildArgumentList();
        ShowOutcome(methods::call(entry, FArgs));
    } catch (const vcl::Exception& e) {
        vcl::ShowMessage(e.Message);
    }
}
