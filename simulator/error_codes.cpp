#include "error_codes.h"

namespace cwsim {

std::string codeText(int errorCode) {
    switch (errorCode) {
    case 0:
        return "No error";
    case code::NoDesign:
        return "No design is open";
    case code::UnknownField:
        return "Unknown field";
    case code::BadArgument:
        return "Bad argument";
    case code::WrongRole:
        return "Not available in this program";
    case code::NoRecord:
        return "No current record";
    case code::NotFound:
        return "Record not found";
    case code::DesignFile:
        return "The design file cannot be used";
    case code::Database:
        return "Roster database error";
    case code::NoTemplate:
        return "Template not found";
    case code::Exists:
        return "Already exists";
    case code::NoPicture:
        return "No picture stored";
    case code::Import:
        return "Roster import failed";
    case code::Output:
        return "Cannot write output file";
    case code::AccessKey:
        return "Access key missing or wrong";
    case code::EndOfSelection:
        return "No further record in the selection";
    case code::ShuttingDown:
        return "The program is shutting down";
    case code::QueueFull:
        return "Too many commands pending";
    case code::NoDevice:
        return "The design has no field for this capture";
    case code::Internal:
        return "Internal error";
    default:
        return {};
    }
}

} // namespace cwsim
