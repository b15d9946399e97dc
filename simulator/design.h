// A card design (.idc): card size and colours, the fields with their
// placement, the templates, and where the roster lives. The format is
// described in docs/design-files.md.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cwsim {

enum class FieldKind { Text, Number, Date, Photo, Signature, Fingerprint, Label };

const char* kindName(FieldKind kind);
bool isPicture(FieldKind kind);

struct FieldDef {
    std::string name;
    FieldKind kind = FieldKind::Text;
    std::string side = "front"; // "front" or "back"
    int x = 0, y = 0, w = 100, h = 30;
    int fontSize = 12;
    bool bold = false;
    std::string color = "#000000";
    std::string align = "left"; // left, center, right
    std::string text;           // labels: the fixed text
    std::string sample;         // generator for the sample roster, may be empty
};

struct TemplateDef {
    std::string name;
    std::string title;               // printed across the top of the front
    std::string background;          // "#rrggbb"; empty: the design's
    std::string accent = "#35597a";  // colour of the title band
    std::vector<std::string> fields; // fields shown; empty: all
};

struct Design {
    std::filesystem::path file; // absolute path of the .idc
    std::string name;
    int width = 540, height = 860; // card size in pixels
    std::string background = "#ffffff";
    std::string backBackground = "#f0f0f0";
    std::vector<FieldDef> fields; // in file order
    std::vector<TemplateDef> templates;
    std::filesystem::path roster;  // absolute path of the SQLite roster
    int generate = 0;              // people to generate when the roster is created
    std::filesystem::path linkCsv; // RosterLink: the CSV file to import
    std::string linkKey;           // RosterLink: field that identifies a person

    // The fields the roster stores (everything but labels), in file order.
    std::vector<const FieldDef*> dataFields() const;
    const FieldDef* field(std::string_view fieldName) const; // data fields only
};

class DesignError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The path names no design at all: not a regular file named *.idc.
class NotADesignFile : public DesignError {
  public:
    using DesignError::DesignError;
};

// Parses design text; `file` names it in messages and anchors relative paths.
// Throws DesignError naming the file and line of the first problem and what
// was expected there. Messages quote nothing of the text: whatever file one
// is asked to open, its content is not told back.
Design parseDesign(std::string_view text, const std::filesystem::path& file);
// Only a regular file named *.idc (any case) is read; NotADesignFile else.
Design loadDesign(const std::filesystem::path& file);

// Field and template names become SQL column names and struct member names,
// so they are restricted to letters, digits and '_' (starting with a letter).
bool isValidName(std::string_view name);

} // namespace cwsim
