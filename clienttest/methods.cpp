// methods.cpp - the method table and one call of a method.
#include "methods.h"

#include "result_text.h"

namespace methods {

namespace {

using F = Family;

// In the window's order. Each row calls the library function of its own name.
const Entry Table[] = {
    {"GetErrorMessage", F::Message, &::GetErrorMessage},
    {"IsBusy", F::Busy, &::IsBusy},
    {"GetLastCommandError", F::Number, &::GetLastCommandError},
    {"GetFeatures", F::List, &::GetFeatures},
    {"GetProgramInfo", F::List, &::GetProgramInfo},
    {"GetRecord", F::Record, &::GetRecord},
    {"GetCurrent", F::List, &::GetCurrent},
    {"GetCount", F::List, &::GetCount},
    {"GetFields", F::List, &::GetFields},
    {"GetTemplates", F::List, &::GetTemplates},
    {"GetStatus", F::List, &::GetStatus},
    {"GetToolbarStatus", F::List, &::GetToolbarStatus},
    {"GetCWHandle", F::Number, &::GetCWHandle},
    {"GetEditCount", F::Number, &::GetEditCount},
    {"GetUserData", F::List, &::GetUserData},
    {"GetBadgeImage", F::Picture, &::GetBadgeImage},
    {"GetPhotoImage", F::Picture, &::GetPhotoImage},
    {"GetSignatureImage", F::Picture, &::GetSignatureImage},
    {"GetFingerprintImage", F::Picture, &::GetFingerprintImage},
    {"Open", F::ListCommand, &::Open},
    {"Close", F::Command, &::Close},
    {"First", F::Command, &::First},
    {"Next", F::Command, &::Next},
    {"Previous", F::Command, &::Previous},
    {"Last", F::Command, &::Last},
    {"Select", F::ListCommand, &::Select},
    {"Delete", F::ListCommand, &::Delete},
    {"Revise", F::ListCommand, &::Revise},
    {"Add", F::ListCommand, &::Add},
    {"Update", F::ListCommand, &::Update},
    {"Exit", F::Command, &::Exit},
    {"Startlog", F::Command, &::Startlog},
    {"Stoplog", F::Command, &::Stoplog},
    {"Restore", F::Command, &::Restore},
    {"Focus", F::ListCommand, &::Focus},
    {"Video", F::Command, &::Video},
    {"Print", F::Command, &::Print},
    {"Twain", F::Command, &::Twain},
    {"Signature", F::Command, &::Signature},
    {"Bitmap", F::Command, &::Bitmap},
    {"Preview", F::Command, &::Preview},
    {"ServerMode", F::ListCommand, &::ServerMode},
    {"Goto", F::ListCommand, &::Goto},
    {"Edit", F::ListCommand, &::Edit},
    {"CreateTemplate", F::ListCommand, &::CreateTemplate},
    {"ReviseTemplate", F::ListCommand, &::ReviseTemplate},
    {"ManageTemplates", F::Command, &::ManageTemplates},
    {"ReviseAssignments", F::ListCommand, &::ReviseAssignments},
    {"Fingerprint", F::Command, &::Fingerprint},
    {"Template", F::ListCommand, &::Template},
    {"ReviseUserData", F::ListCommand, &::ReviseUserData},
    {"FlipBadge", F::ListCommand, &::FlipBadge},
    {"RosterLinkConfig", F::Command, &::RosterLinkConfig},
    {"RosterLink", F::Command, &::RosterLink},
};

Outcome failed() {
    Outcome outcome;
    outcome.kind = Outcome::Kind::Failed;
    outcome.errorCode = ::GetErrorCode();
    outcome.errorText = resulttext::fromLibrary(::GetErrorText());
    return outcome;
}

Outcome listOutcome(const NameValueList* list) {
    if (list == nullptr)
        return failed();
    Outcome outcome;
    outcome.kind = Outcome::Kind::List;
    outcome.list = list;
    return outcome;
}

Outcome statusOutcome(unsigned char status) {
    if (status != 1) // only exactly 1 is an acceptance
        return failed();
    Outcome outcome;
    outcome.kind = Outcome::Kind::Accepted;
    return outcome;
}

} // namespace

std::span<const Entry> all() {
    return Table;
}

const Entry* find(QStringView name) {
    // The names are ASCII: a character beyond it matches none of them.
    for (const Entry& entry : Table) {
        if (name == QLatin1StringView(entry.name))
            return &entry;
    }
    return nullptr;
}

bool takesArguments(Family family) {
    switch (family) {
    case Family::ListCommand:
    case Family::Record:
    case Family::Message:
    case Family::Picture:
        return true;
    case Family::List:
    case Family::Command:
    case Family::Number:
    case Family::Busy:
        break;
    }
    return false;
}

std::optional<QString> Outcome::returns() const {
    switch (kind) {
    case Kind::List:
        if (list == nullptr || list->count <= 0)
            return std::nullopt;
        return resulttext::listLines(*list);
    case Kind::Accepted:
        return resulttext::commandAccepted();
    case Kind::Number:
        return resulttext::number(number);
    case Kind::Boolean:
        return resulttext::busyText(flag ? 1 : 0);
    case Kind::Text:
        return text; // the whole text, one append
    case Kind::Picture:
    case Kind::Failed:
        break;
    }
    return std::nullopt;
}

Outcome call(const Entry& entry, const NameValueList& args) {
    const NameValueList* const list = &args;
    Outcome outcome;
    switch (entry.family) {
    case Family::List:
        return listOutcome(std::get<ListFunction>(entry.function)());
    case Family::Record:
        return listOutcome(std::get<RecordFunction>(entry.function)(list));
    case Family::Command:
        return statusOutcome(std::get<ByteFunction>(entry.function)());
    case Family::ListCommand:
        return statusOutcome(std::get<ListCommandFunction>(entry.function)(list));
    case Family::Number:
        // No failure value: whatever comes back is the answer.
        outcome.kind = Outcome::Kind::Number;
        outcome.number = std::get<IntegerFunction>(entry.function)();
        return outcome;
    case Family::Busy: {
        const unsigned char busy = std::get<ByteFunction>(entry.function)();
        if (busy == resulttext::BusyFailed)
            return failed();
        outcome.kind = Outcome::Kind::Boolean;
        outcome.flag = busy == 1;
        return outcome;
    }
    case Family::Message: {
        const char* text = std::get<MessageFunction>(entry.function)(list);
        if (text == nullptr)
            return failed();
        outcome.kind = Outcome::Kind::Text;
        outcome.text = resulttext::fromLibrary(text);
        return outcome;
    }
    case Family::Picture:
        outcome.bitmap = std::get<PictureFunction>(entry.function)(list);
        if (outcome.bitmap == 0)
            return failed();
        outcome.kind = Outcome::Kind::Picture;
        return outcome;
    }
    return failed();
}

Outcome callChecked(const Entry& entry, const NameValueList& args) {
    Outcome outcome = call(entry, args);
    switch (outcome.kind) {
    case Outcome::Kind::Number:
    case Outcome::Kind::Boolean:
    case Outcome::Kind::Text:
        if (::GetErrorCode() != 0)
            return failed();
        break;
    default:
        break;
    }
    return outcome;
}

HelpDisplay help(const QByteArray& method) {
    HelpDisplay display;
    const auto lastError = [&display] {
        const int32_t code = ::GetErrorCode(); // the code first, then its text
        display.error.emplace(code, resulttext::fromLibrary(::GetErrorText()));
    };
    display.appends.append(resulttext::prototypesHeading());
    const NameValueList* prototypes = ::GetMethodProtoType(method.constData());
    if (prototypes == nullptr)
        lastError();
    else if (prototypes->count > 0)
        display.appends.append(resulttext::listLines(*prototypes));

    const char* text = ::GetMethodHelp(method.constData());
    if (text != nullptr) {
        display.appends.append(resulttext::helpLines(text).join(u'\n'));
    } else {
        display.appends.append(resulttext::noHelpAvailable());
        lastError();
    }
    return display;
}

} // namespace methods
