// What the simulated application holds: the open design and its roster, the
// selection and its current record, templates, modes, and the counters that
// the status, the window and the queue read. The engine's mutex guards the
// plain members; the atomics are read without it, so IsBusy and
// GetLastCommandError answer at once while a long command holds the rest.
#pragma once

#include "design.h"
#include "error_codes.h"
#include "options.h"
#include "roster.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cwsim {

struct AppState {
    explicit AppState(const Options& o) : options(o) {}

    const Options& options;
    std::optional<Design> design;
    std::unique_ptr<Roster> roster;
    Pairs criteria; // of the current selection
    std::vector<std::int64_t> selection;
    std::size_t position = 0; // index into selection
    std::vector<TemplateDef> templates;
    std::string activeTemplate;
    std::string side = "front";
    bool serverMode = false;
    bool exiting = false; // Exit accepted: nothing more is
    std::string focusField, lastPrint, linkCsv;
    int editCount = 0;
    std::string lastErrorText;

    std::atomic<int> lastError{0};
    std::atomic<int> pending{0};     // commands queued or running
    std::atomic<bool> cancel{false}; // a stop asks long work to give up
    std::atomic<bool> logging{false};
    std::atomic<long long> windowId{0};
    std::atomic<int> listenPort{0};
    std::atomic<int> restoreRequests{0}, focusRequests{0}, previewRequests{0};

    std::mutex labelMutex; // guards designLabel only, for the window
    std::string designLabel = "no design";

    void requireDesign() const;
    const FieldDef& requireField(const std::string& name) const;
    std::optional<std::int64_t> current() const;
    std::int64_t requireCurrent() const;
    // Id=N when given (it must exist), else the current record.
    std::int64_t recordArg(const std::optional<std::string>& id);
    bool hasKind(FieldKind kind) const;
    TemplateDef* findTemplate(const std::string& name);
    const TemplateDef& activeTemplateDef() const;

    void openDesign(Design d);
    void closeDesign();
    // Reads the selection again, keeping `keep` current where it still is.
    void refreshSelection(std::optional<std::int64_t> keep);

    QImage badgeImage(std::int64_t id, const std::string& side);
    std::string renderBadge(std::int64_t id, const std::string& side);

  private:
    void loadTemplates();
};

// Argument helpers shared by the method rows.
bool truthy(const std::string& method, const std::string& name, const std::string& value);
std::int64_t number(const std::string& method, const std::string& name, const std::string& value);
std::string fieldList(const Design& d);
// "A, B ,C" -> {"A", "B", "C"}; empty items dropped.
std::vector<std::string> splitList(const std::string& text);

} // namespace cwsim
