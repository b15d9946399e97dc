#include "design.h"

#include "text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <sstream>

namespace cwsim {
namespace {

constexpr std::size_t kMaxDesignBytes = 1 << 20;

const std::array<std::string_view, 10> kSamples = {
    "first-name", "last-name",   "company", "person", "department",
    "sequence",   "future-date", "email",   "phone",  "none"};

std::string trim(std::string_view s) {
    auto begin = s.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos)
        return {};
    auto end = s.find_last_not_of(" \t\r");
    return std::string(s.substr(begin, end - begin + 1));
}

class Parser {
  public:
    Parser(const std::filesystem::path& file) : file_(file) {}

    [[noreturn]] void fail(const std::string& what) const {
        throw DesignError(file_.string() + ":" + std::to_string(line_) + ": " + what);
    }

    int number(const std::string& value, int lo, int hi) const {
        int n = 0;
        auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (ec != std::errc() || ptr != value.data() + value.size())
            fail("expected a whole number");
        if (n < lo || n > hi)
            fail("expected a number from " + std::to_string(lo) + " to " + std::to_string(hi));
        return n;
    }

    std::vector<int> numbers(const std::string& value, char sep, std::size_t count, int lo,
                             int hi) const {
        std::vector<int> out;
        std::stringstream in(value);
        std::string part;
        while (std::getline(in, part, sep))
            out.push_back(number(trim(part), lo, hi));
        if (out.size() != count)
            fail("expected " + std::to_string(count) + " numbers separated by '" +
                 std::string(1, sep) + "'");
        return out;
    }

    std::string colour(const std::string& value) const {
        bool ok = value.size() == 7 && value[0] == '#' &&
                  std::all_of(value.begin() + 1, value.end(),
                              [](unsigned char c) { return std::isxdigit(c) != 0; });
        if (!ok)
            fail("expected a colour of the form #rrggbb");
        return value;
    }

    bool yesNo(const std::string& value) const {
        auto v = asciiLower(value);
        if (v == "yes" || v == "true" || v == "1")
            return true;
        if (v == "no" || v == "false" || v == "0")
            return false;
        fail("expected yes or no");
    }

    std::filesystem::path path(const std::string& value) const {
        if (value.empty())
            fail("expected a path");
        std::filesystem::path p(value);
        if (p.is_relative())
            p = file_.parent_path() / p;
        return p.lexically_normal();
    }

    Design run(std::string_view text) {
        Design d;
        d.file = file_;
        enum class Section { None, Design, Field, Template, Link } section = Section::None;
        bool sawDesign = false;
        std::size_t pos = 0;
        while (pos <= text.size()) {
            auto nl = text.find('\n', pos);
            if (nl == std::string_view::npos)
                nl = text.size();
            ++line_;
            std::string ln = trim(text.substr(pos, nl - pos));
            pos = nl + 1;
            if (ln.empty() || ln[0] == '#' || ln[0] == ';')
                continue;
            if (ln.front() == '[') {
                if (ln.back() != ']')
                    fail("section header without closing ']'");
                std::string head = trim(std::string_view(ln).substr(1, ln.size() - 2));
                auto space = head.find(' ');
                std::string kind = asciiLower(head.substr(0, space));
                std::string name = space == std::string::npos ? "" : trim(head.substr(space + 1));
                if (kind == "design" && name.empty()) {
                    if (sawDesign)
                        fail("second [Design] section");
                    sawDesign = true;
                    section = Section::Design;
                } else if (kind == "rosterlink" && name.empty()) {
                    section = Section::Link;
                } else if (kind == "field" || kind == "template") {
                    if (!isValidName(name))
                        fail("expected a name of letters, digits and _, starting with a "
                             "letter, at most 64");
                    if (kind == "field") {
                        if (asciiLower(name) == "id")
                            fail("a field may not be called Id (the record number's name)");
                        for (const auto& f : d.fields)
                            if (asciiLower(f.name) == asciiLower(name))
                                fail("a field of this name (in any case) is defined earlier");
                        d.fields.push_back(FieldDef{});
                        d.fields.back().name = name;
                        section = Section::Field;
                    } else {
                        for (const auto& t : d.templates)
                            if (asciiLower(t.name) == asciiLower(name))
                                fail("a template of this name (in any case) is defined "
                                     "earlier");
                        d.templates.push_back(TemplateDef{});
                        d.templates.back().name = name;
                        section = Section::Template;
                    }
                } else {
                    fail("unknown section (expected [Design], [Field NAME], [Template NAME] or "
                         "[RosterLink])");
                }
                continue;
            }
            auto eq = ln.find('=');
            if (eq == std::string::npos)
                fail("expected 'key = value'");
            std::string key = asciiLower(trim(std::string_view(ln).substr(0, eq)));
            std::string value = trim(std::string_view(ln).substr(eq + 1));
            switch (section) {
            case Section::None:
                fail("a key outside any section (expected a [Design] header first)");
            case Section::Design:
                designKey(d, key, value);
                break;
            case Section::Field:
                fieldKey(d.fields.back(), key, value);
                break;
            case Section::Template:
                if (key == "fields")
                    fieldsLines_.emplace_back(d.templates.size() - 1, line_);
                templateKey(d.templates.back(), key, value);
                break;
            case Section::Link:
                linkKey(d, key, value);
                break;
            }
        }
        line_ = 0;
        if (!sawDesign)
            throw DesignError(file_.string() + ": no [Design] section");
        if (d.dataFields().empty())
            throw DesignError(file_.string() + ": the design has no data fields");
        for (std::size_t i = 0; i < d.templates.size(); ++i)
            for (const auto& f : d.templates[i].fields)
                if (!d.field(f)) {
                    line_ = fieldsLineOf(i);
                    fail("fields names a data field the design does not define");
                }
        if (!d.linkKey.empty() && !d.field(d.linkKey)) {
            line_ = linkKeyLine_;
            fail("key names a data field the design does not define");
        }
        if (d.roster.empty())
            d.roster = (file_.parent_path() / file_.stem()).concat(".db");
        if (d.linkCsv.empty())
            d.linkCsv = (file_.parent_path() / file_.stem()).concat(".csv");
        if (d.name.empty())
            d.name = file_.stem().string();
        return d;
    }

  private:
    void designKey(Design& d, const std::string& key, const std::string& value) {
        if (key == "name")
            d.name = value;
        else if (key == "size") {
            auto wh = numbers(value, 'x', 2, 50, 4000);
            d.width = wh[0];
            d.height = wh[1];
        } else if (key == "background")
            d.background = colour(value);
        else if (key == "back")
            d.backBackground = colour(value);
        else if (key == "roster")
            d.roster = path(value);
        else if (key == "generate")
            d.generate = number(value, 0, 100000);
        else
            fail("unknown key in [Design] (expected name, size, background, back, roster or "
                 "generate)");
    }

    void fieldKey(FieldDef& f, const std::string& key, const std::string& value) {
        if (key == "kind") {
            static const std::array<std::pair<std::string_view, FieldKind>, 7> kinds = {
                {{"text", FieldKind::Text},
                 {"number", FieldKind::Number},
                 {"date", FieldKind::Date},
                 {"photo", FieldKind::Photo},
                 {"signature", FieldKind::Signature},
                 {"fingerprint", FieldKind::Fingerprint},
                 {"label", FieldKind::Label}}};
            auto v = asciiLower(value);
            auto it = std::find_if(kinds.begin(), kinds.end(),
                                   [&](const auto& k) { return k.first == v; });
            if (it == kinds.end())
                fail("unknown kind (expected text, number, date, photo, signature, "
                     "fingerprint or label)");
            f.kind = it->second;
        } else if (key == "place") {
            auto p = numbers(value, ',', 4, 0, 4000);
            if (p[2] == 0 || p[3] == 0)
                fail("a field needs a width and height above 0");
            f.x = p[0];
            f.y = p[1];
            f.w = p[2];
            f.h = p[3];
        } else if (key == "side") {
            auto v = asciiLower(value);
            if (v != "front" && v != "back")
                fail("expected side front or back");
            f.side = v;
        } else if (key == "font")
            f.fontSize = number(value, 4, 200);
        else if (key == "bold")
            f.bold = yesNo(value);
        else if (key == "color" || key == "colour")
            f.color = colour(value);
        else if (key == "align") {
            auto v = asciiLower(value);
            if (v != "left" && v != "center" && v != "right")
                fail("expected align left, center or right");
            f.align = v;
        } else if (key == "text")
            f.text = value;
        else if (key == "sample") {
            auto v = asciiLower(value);
            if (std::find(kSamples.begin(), kSamples.end(), v) == kSamples.end())
                fail("unknown sample (expected first-name, last-name, company, person, "
                     "department, sequence, future-date, email, phone or none)");
            f.sample = v;
        } else
            fail("unknown key in [Field] (expected kind, place, side, font, bold, color, align, "
                 "text or sample)");
    }

    void templateKey(TemplateDef& t, const std::string& key, const std::string& value) {
        if (key == "title")
            t.title = value;
        else if (key == "background")
            t.background = colour(value);
        else if (key == "accent")
            t.accent = colour(value);
        else if (key == "fields") {
            std::stringstream in(value);
            std::string part;
            while (std::getline(in, part, ',')) {
                auto name = trim(part);
                if (!name.empty())
                    t.fields.push_back(name);
            }
        } else
            fail("unknown key in [Template] (expected title, background, accent or fields)");
    }

    void linkKey(Design& d, const std::string& key, const std::string& value) {
        if (key == "csv")
            d.linkCsv = path(value);
        else if (key == "key") {
            d.linkKey = value;
            linkKeyLine_ = line_;
        } else
            fail("unknown key in [RosterLink] (expected csv or key)");
    }

    // Where each template's last `fields` line is: templates are kept by index.
    int fieldsLineOf(std::size_t templateIndex) const {
        int line = 0;
        for (const auto& [index, at] : fieldsLines_)
            if (index == templateIndex)
                line = at;
        return line;
    }

    std::filesystem::path file_;
    int line_ = 0;
    std::vector<std::pair<std::size_t, int>> fieldsLines_; // template index, line
    int linkKeyLine_ = 0;
};

} // namespace

const char* kindName(FieldKind kind) {
    switch (kind) {
    case FieldKind::Text:
        return "text";
    case FieldKind::Number:
        return "number";
    case FieldKind::Date:
        return "date";
    case FieldKind::Photo:
        return "photo";
    case FieldKind::Signature:
        return "signature";
    case FieldKind::Fingerprint:
        return "fingerprint";
    case FieldKind::Label:
        return "label";
    }
    return "text";
}

bool isPicture(FieldKind kind) {
    return kind == FieldKind::Photo || kind == FieldKind::Signature ||
           kind == FieldKind::Fingerprint;
}

bool isValidName(std::string_view name) {
    if (name.empty() || name.size() > 64 || !std::isalpha(static_cast<unsigned char>(name[0])))
        return false;
    return std::all_of(name.begin(), name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0 || c == '_'; });
}

std::vector<const FieldDef*> Design::dataFields() const {
    std::vector<const FieldDef*> out;
    for (const auto& f : fields)
        if (f.kind != FieldKind::Label)
            out.push_back(&f);
    return out;
}

const FieldDef* Design::field(std::string_view fieldName) const {
    for (const auto& f : fields)
        if (f.kind != FieldKind::Label && f.name == fieldName)
            return &f;
    return nullptr;
}

Design parseDesign(std::string_view text, const std::filesystem::path& file) {
    return Parser(file).run(text);
}

Design loadDesign(const std::filesystem::path& file) {
    auto ext = file.extension().string();
    if (asciiLower(ext) != ".idc")
        throw NotADesignFile("Cannot open " + file.string() +
                             ": not a design file (its name does not end in .idc)");
    std::error_code ec;
    auto abs = std::filesystem::absolute(file, ec).lexically_normal();
    // Opened without blocking (a FIFO named *.idc), then judged by what was
    // opened, so that nothing is swapped in between.
    int fd = ::open(abs.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            throw DesignError("Cannot open design file " + file.string() + ": no such file");
        throw DesignError("Cannot open design file " + file.string() + ": " + std::strerror(err));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw NotADesignFile("Cannot open " + file.string() + ": not a regular file" +
                             (S_ISDIR(st.st_mode) ? " (a folder)" : ""));
    }
    // Read up to one byte past the limit: some files say they are empty and
    // are not (/proc).
    std::string text;
    char buf[65536];
    ssize_t n = 0;
    while (text.size() <= kMaxDesignBytes && (n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    int err = errno;
    ::close(fd);
    if (n < 0)
        throw DesignError("Cannot open design file " + file.string() + ": " + std::strerror(err));
    if (text.size() > kMaxDesignBytes)
        throw DesignError("Cannot open design file " + file.string() + ": larger than 1 MiB");
    return parseDesign(text, abs);
}

} // namespace cwsim
