#include "state.h"

#include "pictures.h"
#include "sample.h"
#include "text.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace cwsim {

bool truthy(const std::string& method, const std::string& name, const std::string& value) {
    auto v = asciiLower(value);
    if (v == "on" || v == "yes" || v == "true" || v == "1")
        return true;
    if (v == "off" || v == "no" || v == "false" || v == "0")
        return false;
    throw CwError(code::BadArgument,
                  method + ": " + name + " must be On or Off, not '" + value + "'");
}

std::int64_t number(const std::string& method, const std::string& name, const std::string& value) {
    std::int64_t n = 0;
    auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || ec != std::errc() || ptr != value.data() + value.size())
        throw CwError(code::BadArgument,
                      method + ": " + name + " must be a whole number, not '" + value + "'");
    return n;
}

std::string fieldList(const Design& d) {
    std::string out;
    for (const auto* f : d.dataFields())
        out += (out.empty() ? "" : ", ") + f->name;
    return out;
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        item.erase(0, item.find_first_not_of(' '));
        while (!item.empty() && item.back() == ' ')
            item.pop_back();
        if (!item.empty())
            out.push_back(item);
    }
    return out;
}

void AppState::requireDesign() const {
    if (!design)
        throw CwError(code::NoDesign, "No design is open: call Open with File=PATH first");
}

const FieldDef& AppState::requireField(const std::string& name) const {
    requireDesign();
    const auto* f = design->field(name);
    if (!f)
        throw CwError(code::UnknownField, "Unknown field '" + name + "' (the design's fields: " +
                                              fieldList(*design) + ")");
    return *f;
}

std::optional<std::int64_t> AppState::current() const {
    if (!design || position >= selection.size())
        return std::nullopt;
    return selection[position];
}

std::int64_t AppState::requireCurrent() const {
    requireDesign();
    auto id = current();
    if (!id)
        throw CwError(code::NoRecord, "No current record: the selection is empty");
    return *id;
}

std::int64_t AppState::recordArg(const std::optional<std::string>& id) {
    if (!id)
        return requireCurrent();
    auto n = number("Record", "Id", *id);
    if (!roster->get(n))
        throw CwError(code::NotFound, "Record " + *id + " does not exist");
    return n;
}

bool AppState::hasKind(FieldKind kind) const {
    return design && std::any_of(design->fields.begin(), design->fields.end(),
                                 [&](const auto& f) { return f.kind == kind; });
}

TemplateDef* AppState::findTemplate(const std::string& name) {
    auto it = std::find_if(templates.begin(), templates.end(),
                           [&](const auto& t) { return t.name == name; });
    return it == templates.end() ? nullptr : &*it;
}

const TemplateDef& AppState::activeTemplateDef() const {
    for (const auto& t : templates)
        if (t.name == activeTemplate)
            return t;
    return templates.front();
}

void AppState::openDesign(Design d) {
    closeDesign();
    design = std::move(d);
    try {
        roster = std::make_unique<Roster>(*design);
        // Marked done in the same transaction, so a first open that was cut
        // short (killed, stopped) generates again next time instead of
        // leaving an empty roster.
        if (design->generate > 0 && roster->setting("generated").empty() && roster->total() == 0)
            roster->transaction([&] {
                generatePeople(*design, *roster, design->generate,
                               [this] { return cancel.load(); });
                roster->setSetting("generated", std::to_string(design->generate));
            });
    } catch (...) {
        roster.reset();
        design.reset();
        throw;
    }
    loadTemplates();
    linkCsv = roster->setting("rosterlink.csv");
    refreshSelection(std::nullopt);
    std::lock_guard lock(labelMutex);
    designLabel = design->file.filename().string();
}

void AppState::closeDesign() {
    {
        std::lock_guard lock(labelMutex);
        designLabel = "no design";
    }
    roster.reset();
    design.reset();
    criteria.clear();
    selection.clear();
    position = 0;
    templates.clear();
    activeTemplate.clear();
    side = "front";
    focusField.clear();
    editCount = 0;
}

void AppState::loadTemplates() {
    templates = design->templates;
    for (const auto& row : roster->templates()) {
        TemplateDef t;
        t.name = row.name;
        t.title = row.title;
        t.background = row.background;
        for (const auto& f : splitList(row.fields))
            if (design->field(f))
                t.fields.push_back(f);
        if (auto* known = findTemplate(t.name)) {
            t.accent = known->accent;
            *known = t;
        } else {
            templates.push_back(t);
        }
    }
    if (templates.empty()) {
        TemplateDef standard;
        standard.name = "Standard";
        templates.push_back(standard);
    }
    activeTemplate = roster->setting("template");
    if (!findTemplate(activeTemplate))
        activeTemplate = templates.front().name;
}

void AppState::refreshSelection(std::optional<std::int64_t> keep) {
    selection = roster->select(criteria);
    if (keep) {
        auto it = std::lower_bound(selection.begin(), selection.end(), *keep);
        position = static_cast<std::size_t>(it - selection.begin());
    }
    if (position >= selection.size())
        position = selection.empty() ? 0 : selection.size() - 1;
}

QImage AppState::badgeImage(std::int64_t id, const std::string& badgeSide) {
    auto rec = roster->get(id);
    if (!rec)
        throw CwError(code::NotFound, "Record " + std::to_string(id) + " does not exist");
    const auto& tpl = activeTemplateDef();
    BadgeContent content;
    content.title = tpl.title;
    content.accent = tpl.accent;
    content.background = badgeSide == "back"
                             ? design->backBackground
                             : (tpl.background.empty() ? design->background : tpl.background);
    content.shown = tpl.fields;
    const auto& fields = roster->fields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (isPicture(fields[i]->kind)) {
            if (rec->hasPicture[i])
                if (auto png = roster->picture(id, fields[i]->name))
                    content.png[fields[i]->name] = *png;
        } else {
            content.text[fields[i]->name] = rec->values[i];
        }
    }
    return cwsim::renderBadge(*design, content, badgeSide);
}

std::string AppState::renderBadge(std::int64_t id, const std::string& badgeSide) {
    auto png = toPng(badgeImage(id, badgeSide));
    if (png.empty())
        throw CwError(code::Internal, "Cannot encode the badge as PNG");
    return png;
}

} // namespace cwsim
