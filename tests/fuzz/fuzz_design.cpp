// cardwright-sim's design-file (.idc) parser. A design it accepts must be
// one the rest of the simulator can rely on: valid, distinct names that can
// be SQL columns, template and RosterLink fields that exist, absolute paths.
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "design.h"
#include "fuzz_support.h"

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool is_colour(const std::string& s) {
    if (s.size() != 7 || s[0] != '#')
        return false;
    for (std::size_t i = 1; i < 7; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static const std::filesystem::path file = "/nonexistent/fuzz/design.idc";
    cwsim::Design d;
    try {
        d = cwsim::parseDesign(text, file);
    } catch (const cwsim::DesignError& e) {
        // Every message names the file first.
        fuzz::check(std::string_view(e.what()).starts_with(file.string()),
                    "a design error that does not name the file", e.what());
        return 0;
    }
    fuzz::check(d.width > 0 && d.height > 0, "a card without a size");
    fuzz::check(is_colour(d.background) && is_colour(d.backBackground), "a card colour",
                d.background);
    fuzz::check(!d.dataFields().empty(), "a design without data fields");
    std::set<std::string> names;
    for (const cwsim::FieldDef& f : d.fields) {
        fuzz::check(cwsim::isValidName(f.name), "a field name", f.name);
        fuzz::check(lower(f.name) != "id", "a field called Id");
        fuzz::check(names.insert(lower(f.name)).second, "a field defined twice", f.name);
        fuzz::check(is_colour(f.color), "a field colour", f.color);
        fuzz::check(f.side == "front" || f.side == "back", "a field side", f.side);
        fuzz::check(f.align == "left" || f.align == "center" || f.align == "right", "an alignment",
                    f.align);
        fuzz::check(f.w >= 0 && f.h >= 0 && f.fontSize > 0, "a field's box or font", f.name);
    }
    names.clear();
    for (const cwsim::TemplateDef& t : d.templates) {
        fuzz::check(cwsim::isValidName(t.name), "a template name", t.name);
        fuzz::check(names.insert(lower(t.name)).second, "a template defined twice", t.name);
        for (const std::string& f : t.fields)
            fuzz::check(d.field(f) != nullptr, "a template field that does not exist", f);
    }
    fuzz::check(d.linkKey.empty() || d.field(d.linkKey) != nullptr,
                "a RosterLink key that does not exist", d.linkKey);
    fuzz::check(d.roster.is_absolute() && d.linkCsv.is_absolute(), "a relative roster or CSV path");
    fuzz::check(!d.name.empty(), "a design without a name");
    return 0;
}
