// handlers.cpp - running a method of the catalogue and showing what came back.
#include "tform1.h"

#include "argument_list.h"
#include "entry.h"
#include "result_text.h"
#include "scenario.h"
#include "vcl.h"
#include "vcl_text.h"

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

// ---- Recording (--record FILE) ---------------------------------------------------

namespace {

// The argument words as typed: each non-blank line of the memo's text, split
// where the argument parser splits it.
QStringList argumentWords(const QString& text) {
    QStringList words;
    for (const QString& line : QString(text)
                                   .replace(QChar::ParagraphSeparator, u'\n')
                                   .replace(QChar::LineSeparator, u'\n')
                                   .split(u'\n')) {
        if (!vcl::Trim(line).isEmpty())
            words.append(line);
    }
    return words;
}

// Appends the completed call to the record file, if there is one. The window
// shows a number, yes/no or text as it came even when the library records a
// failure; the recording describes it as a failure, as a replay will see it.
void recordCall(const methods::Entry& entry, const QStringList& words,
                const methods::Outcome& outcome) {
    const QString file = entry::recordFile();
    if (file.isEmpty())
        return;
    using Kind = methods::Outcome::Kind;
    methods::Outcome recorded = outcome;
    if (outcome.kind == Kind::Number || outcome.kind == Kind::Boolean ||
        outcome.kind == Kind::Text) {
        if (const int32_t code = ::GetErrorCode(); code != 0) {
            recorded = methods::Outcome{};
            recorded.errorCode = code;
            recorded.errorText = resulttext::fromLibrary(::GetErrorText());
        }
    }
    QString error;
    if (!scenario::appendRecording(
            file, scenario::recordedCall(QString::fromUtf8(entry.name), words, recorded), error))
        vcl::ShowMessage(QStringLiteral("The call was not recorded: ") + error);
}

} // namespace

// ---- Dispatch -------------------------------------------------------------------

void TForm1::RunMethod(const methods::Entry& entry) {
    // Recorded before it is shown: the picture pane takes the bitmap.
    if (!methods::takesArguments(entry.family)) {
        const methods::Outcome outcome = methods::call(entry, FArgs);
        recordCall(entry, {}, outcome);
        ShowOutcome(outcome);
        return;
    }
    ClearOutputs();
    try {
        if (ParamTypeRadioGroup->ItemIndex() != 2)
            throw vcl::Exception(arguments::structureMustBeSelected());
        BuildArgumentList();
        const methods::Outcome outcome = methods::call(entry, FArgs);
        recordCall(entry, argumentWords(Parameters->rawText()), outcome);
        ShowOutcome(outcome);
    } catch (const vcl::Exception& e) {
        vcl::ShowMessage(e.Message);
    }
}
