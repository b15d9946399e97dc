#include "method_row.h"

#include "text.h"

#include <unordered_map>

namespace cwsim {
namespace {

bool sameName(std::string_view a, std::string_view b, bool exact) {
    if (exact || a.size() != b.size())
        return a == b;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// Calls `f` with each name of a member group "Name|Alias|...".
template <typename F> void eachAlias(std::string_view group, F f) {
    while (true) {
        auto bar = group.find('|');
        f(group.substr(0, bar));
        if (bar == std::string_view::npos)
            return;
        group.remove_prefix(bar + 1);
    }
}

std::string takenNames(const MethodRow& row) {
    std::string names;
    for (const char* group : row.members)
        if (group)
            eachAlias(group, [&](std::string_view n) {
                names += (names.empty() ? "" : ", ") + std::string(n);
            });
    return names;
}

} // namespace

Members membersOf(const RecordAnswer& answer) {
    const Record& rec = *answer.record;
    Members out;
    out.reserve(rec.values.size() + 1);
    out.emplace_back("Id", static_cast<int>(rec.id));
    for (std::size_t i = 0; i < rec.values.size(); ++i)
        out.emplace_back((*answer.names)[i], rec.values[i]);
    return out;
}

Args::Args(const MethodRow& row, const Pairs& given) : row_(&row) {
    // Where the other members are field names, the named ones match exactly
    // as field names do; elsewhere any case will do.
    bool exact = row.others == Others::Criteria || row.others == Others::Values ||
                 row.others == Others::Assignments;
    std::array<int, 4> rank{}; // of the alias that gave named_[i]: the row's first wins
    for (const auto& pair : given) {
        // Named, not a structured binding: the lambda below captures them.
        const auto& key = pair.first;
        const auto& value = pair.second;
        bool known = false;
        for (std::size_t i = 0; i < row.members.size() && row.members[i]; ++i) {
            int r = 0;
            eachAlias(row.members[i], [&](std::string_view alias) {
                ++r;
                if (!sameName(key, alias, exact))
                    return;
                known = true;
                if (!named_[i] || r < rank[i]) {
                    named_[i] = value;
                    rank[i] = r;
                }
            });
        }
        if (known)
            continue;
        switch (row.others) {
        case Others::None:
            if (!row.members[0])
                throw CwError(code::BadArgument, std::string(row.name) + " takes no arguments");
            throw CwError(code::BadArgument, std::string(row.name) + " does not take '" + key +
                                                 "' (it takes " + takenNames(row) + ")");
        case Others::Ignored:
            if (!named_[0] && given.size() == 1)
                named_[0] = value;
            break;
        default:
            others_.emplace_back(key, value);
        }
    }
}

const std::optional<std::string>& Args::operator[](std::string_view name) const {
    for (std::size_t i = 0; i < row_->members.size() && row_->members[i]; ++i) {
        std::string_view group = row_->members[i];
        if (group.substr(0, group.find('|')) == name)
            return named_[i];
    }
    throw CwError(code::Internal, std::string(row_->name) + " has no member " + std::string(name));
}

const char* Args::method() const {
    return row_->name;
}

void checkOthers(const MethodRow& row, AppState& app, Args& args) {
    for (const auto& [k, v] : args.others()) {
        switch (row.others) {
        case Others::Criteria:
            if (k != "Id")
                app.requireField(k);
            break;
        case Others::Values: {
            const auto& f = app.requireField(k);
            if (isPicture(f.kind))
                throw CwError(code::BadArgument, "Field '" + k +
                                                     "' holds a picture; use the capture "
                                                     "commands to fill it");
            if (v.size() > 4096)
                throw CwError(code::BadArgument,
                              "The value of '" + k + "' is longer than 4096 bytes");
            args.values.emplace_back(k, v);
            break;
        }
        case Others::Assignments:
            app.requireField(k);
            truthy(row.name, k, v);
            break;
        default:
            break;
        }
    }
}

const MethodRow* findRow(std::string_view name) {
    static const auto byName = [] {
        std::unordered_map<std::string_view, const MethodRow*> map;
        for (const auto* rows : {&commandRows(), &queryRows()})
            for (const auto& row : *rows)
                map.emplace(row.name, &row);
        return map;
    }();
    auto it = byName.find(name);
    return it == byName.end() ? nullptr : it->second;
}

} // namespace cwsim
