// The application's error codes: the fault codes of refused calls and the
// values of GetLastCommandError. Numbered once, never renumbered.
#pragma once

#include <stdexcept>
#include <string>

namespace cwsim {

namespace code {
constexpr int NoDesign = 1;
constexpr int UnknownField = 2;
constexpr int BadArgument = 3;
constexpr int WrongRole = 4;
constexpr int NoRecord = 5;
constexpr int NotFound = 6;
constexpr int DesignFile = 7;
constexpr int Database = 8;
constexpr int NoTemplate = 9;
constexpr int Exists = 10;
constexpr int NoPicture = 11;
constexpr int Import = 12;
constexpr int Output = 13;
constexpr int AccessKey = 14;
constexpr int EndOfSelection = 15;
constexpr int ShuttingDown = 16;
constexpr int QueueFull = 17;
constexpr int NoDevice = 18;
constexpr int Internal = 19;
} // namespace code

// The fixed text of an application error code; empty for an unknown code.
std::string codeText(int errorCode);

class CwError : public std::runtime_error {
  public:
    CwError(int errorCode, const std::string& text) : std::runtime_error(text), code_(errorCode) {}
    int code() const { return code_; }

  private:
    int code_;
};

} // namespace cwsim
