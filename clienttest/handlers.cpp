// handlers.cpp - the 50 text methods and how their results are shown.
//
// Families that take no arguments call the library first and clear the
// outputs afterwards; those that take the argument list clear first, so a
// refused argument leaves the outputs empty.
#include "tform1.h"

#include "argument_list.h"
#include "result_text.h"
#include "vcl.h"

#include <QLineEdit>

// ---- Presentation -----------------------------------------------------------

void TForm1::ShowLastError()
{
    ErrorCode->setText(resulttext::number(::GetErrorCode()));
    Message->setText(resulttext::fromLibrary(::GetErrorText()));
}

void TForm1::ShowListResult(const NameValueList* list, bool clearResults)
{
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

void TForm1::ShowCommandStatus(unsigned char status)
{
    ClearOutputs();
    if (status == 1)
        AppendResult(resulttext::commandAccepted());
    else
        ShowLastError();
}

void TForm1::ClearOutputs()
{
    ErrorCode->clear();
    Message->clear();
    ResultsList->clear();
}

void TForm1::AppendResult(const QString& lines) { ResultsList->appendLines(lines); }

// ---- Families -----------------------------------------------------------------

void TForm1::ListGetter(ListFunction function) { ShowListResult(function(), true); }

void TForm1::StatusCommand(CommandFunction function) { ShowCommandStatus(function()); }

void TForm1::IntegerGetter(IntegerFunction function)
{
    // No failure value: whatever comes back is the answer.
    const int32_t value = function();
    ClearOutputs();
    AppendResult(resulttext::number(value));
}

void TForm1::WithArgumentList(const std::function<void()>& callAndShow)
{
    ClearOutputs();
    try {
        if (ParamTypeRadioGroup->ItemIndex() != 2)
            throw vcl::Exception(arguments::structureMustBeSelected());
        BuildArgumentList();
        callAndShow();
    } catch (const vcl::Exception& e) {
        vcl::ShowMessage(e.Message);
    }
}

void TForm1::ListCommand(ListCommandFunction function)
{
    WithArgumentList([this, function] { ShowCommandStatus(function(&FArgs)); });
}

// ---- Handlers, in catalogue order -----------------------------------------------

void TForm1::GetErrorMessage()
{
    WithArgumentList([this] {
        const char* text = ::GetErrorMessage(&FArgs);
        if (text != nullptr)
            AppendResult(resulttext::fromLibrary(text)); // the whole text, one append
        else
            ShowLastError();
    });
}

void TForm1::IsBusy()
{
    const unsigned char busy = ::IsBusy();
    ClearOutputs();
    if (busy == resulttext::BusyFailed)
        ShowLastError();
    else
        AppendResult(resulttext::busyText(busy));
}

void TForm1::GetLastCommandError() { IntegerGetter(&::GetLastCommandError); }
void TForm1::GetFeatures() { ListGetter(&::GetFeatures); }
void TForm1::GetProgramInfo() { ListGetter(&::GetProgramInfo); }

void TForm1::GetRecord()
{
    WithArgumentList([this] { ShowListResult(::GetRecord(&FArgs), true); });
}

void TForm1::GetCurrent() { ListGetter(&::GetCurrent); }
void TForm1::GetCount() { ListGetter(&::GetCount); }
void TForm1::GetFields() { ListGetter(&::GetFields); }
void TForm1::GetTemplates() { ListGetter(&::GetTemplates); }
void TForm1::GetStatus() { ListGetter(&::GetStatus); }
void TForm1::GetToolbarStatus() { ListGetter(&::GetToolbarStatus); }
void TForm1::GetCWHandle() { IntegerGetter(&::GetCWHandle); }
void TForm1::GetEditCount() { IntegerGetter(&::GetEditCount); }
void TForm1::GetUserData() { ListGetter(&::GetUserData); }
// GetBadgeImage .. GetFingerprintImage: pictures.cpp
void TForm1::Open() { ListCommand(&::Open); }
void TForm1::Close() { StatusCommand(&::Close); }
void TForm1::First() { StatusCommand(&::First); }
void TForm1::Next() { StatusCommand(&::Next); }
void TForm1::Previous() { StatusCommand(&::Previous); }
void TForm1::Last() { StatusCommand(&::Last); }
void TForm1::Select() { ListCommand(&::Select); }
void TForm1::Delete() { ListCommand(&::Delete); }
void TForm1::Revise() { ListCommand(&::Revise); }
void TForm1::Add() { ListCommand(&::Add); }
void TForm1::Update() { ListCommand(&::Update); }
void TForm1::Exit() { StatusCommand(&::Exit); } // the remote method, not the menu item
void TForm1::Startlog() { StatusCommand(&::Startlog); }
void TForm1::Stoplog() { StatusCommand(&::Stoplog); }
void TForm1::Restore() { StatusCommand(&::Restore); }
void TForm1::Focus() { ListCommand(&::Focus); }
void TForm1::Video() { StatusCommand(&::Video); }
void TForm1::Print() { StatusCommand(&::Print); }
void TForm1::Twain() { StatusCommand(&::Twain); }
void TForm1::Signature() { StatusCommand(&::Signature); }
void TForm1::Bitmap() { StatusCommand(&::Bitmap); }
void TForm1::Preview() { StatusCommand(&::Preview); }
void TForm1::ServerMode() { ListCommand(&::ServerMode); }
void TForm1::Goto() { ListCommand(&::Goto); }
void TForm1::Edit() { ListCommand(&::Edit); }
void TForm1::CreateTemplate() { ListCommand(&::CreateTemplate); }
void TForm1::ReviseTemplate() { ListCommand(&::ReviseTemplate); }
void TForm1::ManageTemplates() { StatusCommand(&::ManageTemplates); }
void TForm1::ReviseAssignments() { ListCommand(&::ReviseAssignments); }
void TForm1::Fingerprint() { StatusCommand(&::Fingerprint); }
void TForm1::Template() { ListCommand(&::Template); }
void TForm1::ReviseUserData() { ListCommand(&::ReviseUserData); }
void TForm1::FlipBadge() { ListCommand(&::FlipBadge); }
void TForm1::RosterLinkConfig() { StatusCommand(&::RosterLinkConfig); }
void TForm1::RosterLink() { StatusCommand(&::RosterLink); }
