// One row per remote method: the member names it takes, its checks and its
// action. The engine runs every row the same way (methods.cpp gives each its
// XML-RPC face), so a method's rules live in its row and nowhere else.
#pragma once

#include "state.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace cwsim {

using Value = std::variant<std::string, int>;
using Members = std::vector<std::pair<std::string, Value>>;
struct Png {
    std::string bytes;
};
// A record as GetRecord answers it: Id, then each field by name.
struct RecordAnswer {
    RecordRef record;
    std::shared_ptr<const std::vector<std::string>> names; // parallel to record->values
};
Members membersOf(const RecordAnswer& answer);
// A command answers nothing here (the caller answers true) or a line for the log.
using Answer = std::variant<std::monostate, bool, int, std::string, Members, Png, RecordAnswer>;

// What a method makes of the members its row does not name.
enum class Others {
    None,        // refused, so that a mistyped name is not silently ignored
    Ignored,     // ignored; a lone member of any name stands for the first named one
    Criteria,    // data fields or Id, values may be patterns (Select, Delete, GetRecord)
    Values,      // data fields that hold text, values up to 4096 bytes
    Assignments, // data fields, each Yes or No
    Anything,    // user data keys
};

struct MethodRow;

// A call's members sorted out by its row, and what its checks worked out for
// its action (so that the action does not parse or check anything again).
class Args {
  public:
    Args(const MethodRow& row, const Pairs& given); // throws CwError for a refused member

    // The value of the named member (by the first of its names in the row).
    const std::optional<std::string>& operator[](std::string_view name) const;
    const Pairs& others() const { return others_; }

    std::int64_t number = 0;
    bool flag = false;
    std::string text;
    Pairs values;
    std::vector<std::string> list;
    std::optional<Design> design;

    const char* method() const;

  private:
    const MethodRow* row_;
    std::array<std::optional<std::string>, 4> named_;
    Pairs others_;
};

using Check = void (*)(AppState&, Args&);
using Act = Answer (*)(AppState&, Args&);

enum RowFlags : unsigned {
    kCommand = 1,     // queued; the caller is answered true
    kNeedsDesign = 2, // refused with fault 1 without a design
    kWrites = 4,      // changes the roster: answered only once that is committed
    kOnWorker = 8,    // long work (opening a design) that runs on the worker, not the caller
    kLockFree = 16,   // reads only atomics: answers while a command holds the state
    kOpens = 32,      // later commands are checked against the design it opens
    kCloses = 64,
};

struct MethodRow {
    const char* name;
    std::array<const char*, 4> members; // each "Name" or "Name|Alias|..."; unused: nullptr
    Others others;
    unsigned flags;
    // Argument checks: a fault at once (for a command queued behind an Open,
    // its command error once that has run).
    Check check;
    // Commands: checks of the current record, the selection and the templates.
    // A fault at once when nothing is queued ahead; otherwise the command's
    // error, since the commands ahead may change what they look at.
    Check checkSettled;
    Act act;
};

const std::vector<MethodRow>& commandRows();
const std::vector<MethodRow>& queryRows();
// The row of a method, or nullptr.
const MethodRow* findRow(std::string_view name);

// The generic checks of the members a row does not name, against the design.
void checkOthers(const MethodRow& row, AppState& app, Args& args);

} // namespace cwsim
