// catalogue.cpp - the 54 remote methods the client knows, and "Go".
#include "tform1.h"

#include <QComboBox>

void TForm1::CreateCatalogue()
{
    // The remote application's own spelling: the names are the protocol.
    static constexpr struct {
        const char* name;
        void (TForm1::*handler)();
    } Catalogue[] = {
        {"GetErrorMessage", &TForm1::GetErrorMessage},
        {"IsBusy", &TForm1::IsBusy},
        {"GetLastCommandError", &TForm1::GetLastCommandError},
        {"GetFeatures", &TForm1::GetFeatures},
        {"GetProgramInfo", &TForm1::GetProgramInfo},
        {"GetRecord", &TForm1::GetRecord},
        {"GetCurrent", &TForm1::GetCurrent},
        {"GetCount", &TForm1::GetCount},
        {"GetFields", &TForm1::GetFields},
        {"GetTemplates", &TForm1::GetTemplates},
        {"GetStatus", &TForm1::GetStatus},
        {"GetToolbarStatus", &TForm1::GetToolbarStatus},
        {"GetCWHandle", &TForm1::GetCWHandle},
        {"GetEditCount", &TForm1::GetEditCount},
        {"GetUserData", &TForm1::GetUserData},
        {"GetBadgeImage", &TForm1::GetBadgeImage},
        {"GetPhotoImage", &TForm1::GetPhotoImage},
        {"GetSignatureImage", &TForm1::GetSignatureImage},
        {"GetFingerprintImage", &TForm1::GetFingerprintImage},
        {"Open", &TForm1::Open},
        {"Close", &TForm1::Close},
        {"First", &TForm1::First},
        {"Next", &TForm1::Next},
        {"Previous", &TForm1::Previous},
        {"Last", &TForm1::Last},
        {"Select", &TForm1::Select},
        {"Delete", &TForm1::Delete},
        {"Revise", &TForm1::Revise},
        {"Add", &TForm1::Add},
        {"Update", &TForm1::Update},
        {"Exit", &TForm1::Exit},
        {"Startlog", &TForm1::Startlog},
        {"Stoplog", &TForm1::Stoplog},
        {"Restore", &TForm1::Restore},
        {"Focus", &TForm1::Focus},
        {"Video", &TForm1::Video},
        {"Print", &TForm1::Print},
        {"Twain", &TForm1::Twain},
        {"Signature", &TForm1::Signature},
        {"Bitmap", &TForm1::Bitmap},
        {"Preview", &TForm1::Preview},
        {"ServerMode", &TForm1::ServerMode},
        {"Goto", &TForm1::Goto},
        {"Edit", &TForm1::Edit},
        {"CreateTemplate", &TForm1::CreateTemplate},
        {"ReviseTemplate", &TForm1::ReviseTemplate},
        {"ManageTemplates", &TForm1::ManageTemplates},
        {"ReviseAssignments", &TForm1::ReviseAssignments},
        {"Fingerprint", &TForm1::Fingerprint},
        {"Template", &TForm1::Template},
        {"ReviseUserData", &TForm1::ReviseUserData},
        {"FlipBadge", &TForm1::FlipBadge},
        {"RosterLinkConfig", &TForm1::RosterLinkConfig},
        {"RosterLink", &TForm1::RosterLink},
    };
    for (const auto& row : Catalogue) {
        const auto handler = row.handler;
        MethodList->push_back(std::make_unique<Method>(row.name, [this, handler] { (this->*handler)(); }));
    }
}

void TForm1::InvokeMethod(const QString& name)
{
    if (MethodList)
        invokeFirst(*MethodList, name);
}

void TForm1::MethodsComboBoxSelect(QObject* /*sender*/)
{
    // The selected item's text, or empty text when none is selected.
    InvokeMethod(MethodsComboBox->currentText());
}
