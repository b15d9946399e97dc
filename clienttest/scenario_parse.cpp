// scenario_parse.cpp - reading a .cwt file into calls, expectations and
// captures, refusing every bad line before anything is sent.
#include "scenario.h"

#include "argument_list.h"

#include <QFile>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string_view>
#include <thread>
#include <utility>

namespace scenario {

namespace {

using Kind = Expectation::Kind;
using Family = methods::Family;

void releaseList(NameValueList* list) {
    arguments::release(*list);
    delete list;
}

QString describe(Family family) {
    switch (family) {
    case Family::List:
    case Family::Record:
        return QStringLiteral("a list");
    case Family::Command:
    case Family::ListCommand:
        return QStringLiteral("a status");
    case Family::Number:
        return QStringLiteral("a number");
    case Family::Busy:
        return QStringLiteral("yes or no");
    case Family::Message:
        return QStringLiteral("a text");
    case Family::Picture:
        return QStringLiteral("a picture");
    }
    return {};
}

bool isList(Family f) {
    return f == Family::List || f == Family::Record;
}

// Whether an expectation of `kind` can hold for a call of `family`.
bool fits(Kind kind, Family family) {
    switch (kind) {
    case Kind::EntryEquals:
    case Kind::EntryMatches:
    case Kind::EntryAbsent:
    case Kind::Entries:
        return isList(family);
    case Kind::Accepted:
        return family == Family::Command || family == Family::ListCommand;
    case Kind::Boolean:
        return family == Family::Busy;
    case Kind::Compare:
        return family == Family::Number;
    case Kind::TextEquals:
    case Kind::TextMatches:
        return family == Family::Message;
    case Kind::PictureSize:
    case Kind::PictureSha256:
        return family == Family::Picture;
    case Kind::AnyError:
    case Kind::ErrorCode:
    case Kind::ErrorMatches:
    case Kind::Time:
        return true;
    }
    return false;
}

bool isIdentifier(QStringView s) {
    if (s.isEmpty() || !(s[0].isLetter() || s[0] == u'_'))
        return false;
    for (const QChar c : s)
        if (!(c.isLetterOrNumber() || c == u'_'))
            return false;
    return true;
}

// Whether `word` is `literal`: the keywords and operators of a line.
bool is(QStringView word, std::u16string_view literal) {
    return word.size() == static_cast<qsizetype>(literal.size()) &&
           std::equal(literal.begin(), literal.end(), word.utf16());
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

// A statement's words: views of its text, split at blanks.
using Words = QVarLengthArray<QStringView, 8>;

Words wordsOf(QStringView text) {
    Words words;
    const qsizetype n = text.size();
    qsizetype at = 0;
    while (true) {
        while (at < n && isBlank(text[at]))
            ++at;
        if (at == n)
            return words;
        qsizetype stop = at + 1;
        while (stop < n && !isBlank(text[stop]))
            ++stop;
        words.append(text.sliced(at, stop - at));
        at = stop;
    }
}

// Whether `text` splits into words at its blanks alone: no quote,
// backslash or comment to read.
bool plainWords(QStringView text) {
    for (const QChar c : text)
        if (c == u'\'' || c == u'"' || c == u'\\' || c == u'#')
            return false;
    return true;
}

// The first `count` of `words`, one blank between each.
QString joined(const Words& words, qsizetype count) {
    QString out;
    for (qsizetype i = 0; i < count; ++i) {
        if (i > 0)
            out += u' ';
        out += words[i];
    }
    return out;
}

// The {{VAR}} names in `text`, in order.
QStringList variablesIn(QStringView text) {
    QStringList names;
    if (text.indexOf(u'{') < 0 || !text.contains(u"{{"))
        return names;
    qsizetype from = 0;
    while (true) {
        const qsizetype open = text.indexOf(u"{{", from);
        if (open < 0)
            break;
        const qsizetype close = text.indexOf(u"}}", open + 2);
        if (close < 0)
            break;
        const QStringView name = text.sliced(open + 2, close - open - 2).trimmed();
        if (isIdentifier(name)) {
            names.append(name.toString());
            from = close + 2;
        } else {
            from = open + 2;
        }
    }
    return names;
}

bool readInteger(QStringView text, int64_t& value) {
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok;
}

// The parser's state for one file.
class Parser {
  public:
    Parser(const QString& path, const QStringList& given, Scenario& scenario, QStringList& errors)
        : path_(path), scenario_(scenario), errors_(errors) {
        for (const QString& name : given)
            known_.insert(name, 0);
    }

    // Variables set above the first line this parser reads (captured by
    // the lines before, read by another parser).
    void knowAlso(const QHash<QString, int>& known) { known_.insert(known); }
    const QHash<QString, int>& known() const { return known_; }

    // The line the next statement or failure belongs to. `bytes` is the
    // line as read when `text` is part of the Scenario's own text (which
    // outlives the calls): strings are then views of the file, not copies.
    void at(int number, QByteArrayView bytes = {}, QStringView text = {}) {
        number_ = number;
        lineBytes_ = bytes;
        lineText_ = text;
    }

    void line(QStringView text) {
        const QStringView statement = text.trimmed();
        if (statement.isEmpty() || statement.startsWith(u'#'))
            return;
        qsizetype end = 0;
        while (end < statement.size() && !isBlank(statement[end]))
            ++end;
        const QStringView keyword = statement.first(end);
        const QStringView rest = statement.sliced(end).trimmed();
        if (is(keyword, u"call"))
            call(rest);
        else if (is(keyword, u"expect"))
            expect(rest);
        else if (is(keyword, u"capture"))
            capture(rest);
        else
            fail(QStringLiteral("unknown statement '%1' (a line is blank, a # comment, or starts "
                                "with call, expect or capture)")
                     .arg(keyword));
    }

    void fail(QString what) {
        // One line each: the argument parser's texts break a line for a message box.
        what.replace(u'\n', u' ');
        errors_.append(QStringLiteral("%1:%2: %3").arg(path_).arg(number_).arg(what));
    }

  private:
    bool stable(QStringView part) const {
        return !lineText_.isNull() && part.data() >= lineText_.data() &&
               part.data() + part.size() <= lineText_.data() + lineText_.size();
    }

    // `part` of the current line as a string: a view when the line is kept.
    QString keep(QStringView part) const {
        return stable(part) ? QString::fromRawData(part.data(), part.size()) : part.toString();
    }

    // `part` of the current line as UTF-8: a view of the bytes read when
    // the line is kept and plain ASCII (one byte a character).
    QByteArray keepBytes(QStringView part) const {
        if (stable(part) && lineBytes_.size() == lineText_.size())
            return QByteArray::fromRawData(lineBytes_.data() + (part.data() - lineText_.data()),
                                           part.size());
        return part.toUtf8();
    }

    // The first `count` of `words`, one blank between each: an entry's name
    // may hold blanks.
    QString name(const Words& words, qsizetype count) const {
        const QStringView last = words[count - 1];
        const QStringView span(words[0].data(), last.data() + last.size());
        qsizetype letters = count - 1;
        for (qsizetype i = 0; i < count; ++i)
            letters += words[i].size();
        return span.size() == letters && !span.contains(u'\t') ? keep(span) : joined(words, count);
    }

    // Every {{VAR}} of `text` must be set by --var or captured above.
    bool variablesKnown(QStringView text) {
        bool ok = true;
        for (const QString& name : variablesIn(text)) {
            if (!known_.contains(name)) {
                fail(QStringLiteral("{{%1}} is not set: no --var %1=VALUE and no capture of it "
                                    "above")
                         .arg(name));
                ok = false;
            }
        }
        return ok;
    }

    void call(QStringView rest) {
        // Statements after a bad call line must not attach to the call above;
        // they are skipped, the call's own error says what is wrong.
        current_ = nullptr;
        refused_ = true;
        // A load file repeats the same calls: each spelling is read once.
        const QString spelling = keep(rest);
        if (const auto known = calls_.constFind(spelling); known != calls_.constEnd()) {
            scenario_.calls.push_back(*known);
            scenario_.calls.back().line = number_;
            current_ = &scenario_.calls.back();
            refused_ = false;
            return;
        }
        QString error;
        QStringList words;
        if (plainWords(rest)) {
            for (const QStringView word : wordsOf(rest))
                words.append(keep(word));
        } else {
            words = splitWords(rest, &error);
        }
        if (!error.isEmpty()) {
            fail(error);
            return;
        }
        if (words.isEmpty()) {
            fail(QStringLiteral("call needs a method name"));
            return;
        }
        Call c;
        c.line = number_;
        c.method = words.takeFirst();
        c.entry = methods::find(c.method);
        if (c.entry == nullptr) {
            fail(QStringLiteral("'%1' is not a method of the catalogue (names are spelt exactly, "
                                "letter case counts)")
                     .arg(c.method));
            return;
        }
        c.words = words;
        for (const QString& word : words)
            c.templated = c.templated || !variablesIn(word).isEmpty();
        if (c.templated && !variablesKnown(words.join(u' ')))
            return;
        // The words' check runs now either way; variables stand in as "x".
        QStringList checked = words;
        if (c.templated) {
            Variables stand;
            for (const QString& word : words)
                for (const QString& name : variablesIn(word))
                    stand.insert(name, QStringLiteral("x"));
            for (QString& word : checked)
                substitute(word, stand, word, error);
        }
        std::shared_ptr<NameValueList> list(new NameValueList{0, nullptr, nullptr}, releaseList);
        if (!buildArguments(*c.entry, checked, *list, error)) {
            fail(error);
            return;
        }
        if (!c.templated) {
            c.arguments = std::move(list);
            calls_.insert(spelling, c);
        }
        scenario_.calls.push_back(std::move(c));
        current_ = &scenario_.calls.back();
        refused_ = false;
    }

    bool needCall(const char* statement) {
        if (current_ != nullptr)
            return true;
        if (refused_)
            return false;
        fail(QStringLiteral("%1 without a call above it").arg(QString::fromLatin1(statement)));
        return false;
    }

    // A pattern: compiled now unless it holds a variable.
    bool pattern(Expectation& e) {
        if (e.templated)
            return true;
        // One compiled pattern for every line that spells it alike: a
        // recorded load file repeats the same few thousands of times.
        auto known = patterns_.constFind(e.operand);
        if (known == patterns_.constEnd()) {
            QRegularExpression regex(e.operand);
            if (!regex.isValid()) {
                fail(QStringLiteral("bad regular expression '%1': %2")
                         .arg(e.operand, regex.errorString()));
                return false;
            }
            regex.optimize();
            known = patterns_.insert(e.operand, regex);
        }
        e.regex = *known;
        return true;
    }

    bool integer(Expectation& e, QStringView text) {
        if (e.templated)
            return true;
        if (!readInteger(text, e.number)) {
            fail(QStringLiteral("'%1' is not a whole number").arg(text));
            return false;
        }
        return true;
    }

    // Reads `rest` into `e`; false after reporting what is wrong.
    bool read(QStringView rest, Expectation& e) {
        const Family family = current_->entry->family;
        // Views into `rest`: a file of many expectations makes no strings here.
        const Words words = wordsOf(rest);
        const QStringView first = words.value(0);
        const auto tail = [&](qsizetype skip) {
            // What follows the first `skip` words, as written.
            const QStringView last = words[skip - 1];
            return QStringView(last.data() + last.size(), rest.data() + rest.size()).trimmed();
        };
        const auto valueOrPattern = [&](Kind equals, Kind matches, qsizetype at) {
            // words[at] is "=" or "~"; the rest is the value or pattern.
            e.kind = words.value(at) == u"=" ? equals : matches;
            e.operand = keep(tail(at + 1));
            e.templated = e.templated || !variablesIn(e.operand).isEmpty();
            return e.kind == matches ? pattern(e) : true;
        };

        // A list entry may be called time or error: "time = ..." and
        // "error = ..." are entries there.
        const bool entryForm =
            isList(family) &&
            (is(words.value(1), u"=") || is(words.value(1), u"~") || is(words.value(1), u"absent"));
        // The patterns below are one per thread: a long file is read on two.
        if (is(first, u"time") && !entryForm) {
            static thread_local const QRegularExpression time(
                QStringLiteral("^time\\s*<\\s*(\\S+)\\s*ms$"));
            const QRegularExpressionMatch m = time.match(rest);
            bool ok = false;
            const double ms = m.hasMatch() ? m.captured(1).toDouble(&ok) : 0;
            if (!ok || ms <= 0 || ms > 1e9) {
                fail(QStringLiteral("expect time needs 'time < N ms' with N above 0"));
                return false;
            }
            e.kind = Kind::Time;
            e.operand = m.captured(1);
            e.number = static_cast<int64_t>(ms * 1000.0);
            return true;
        }
        if (is(first, u"error") && !(entryForm && !is(words.value(1), u"~"))) {
            if (words.size() == 1) {
                e.kind = Kind::AnyError;
                return true;
            }
            if (is(words.value(1), u"~"))
                return valueOrPattern(Kind::ErrorMatches, Kind::ErrorMatches, 1);
            if (words.size() == 2) {
                e.kind = Kind::ErrorCode;
                e.operand = keep(words[1]);
                e.templated = !variablesIn(e.operand).isEmpty();
                return integer(e, e.operand);
            }
            fail(QStringLiteral("expect error takes nothing, a code, or '~ REGEX'"));
            return false;
        }
        static constexpr std::array<std::u16string_view, 6> operators{u"=",  u"!=", u"<",
                                                                      u"<=", u">",  u">="};
        const auto found = std::find_if(operators.begin(), operators.end(),
                                        [first](std::u16string_view op) { return is(first, op); });
        if (const auto op = found - operators.begin(); found != operators.end()) {
            e.kind = Kind::Compare;
            e.op = static_cast<Expectation::Op>(op);
            if (words.size() != 2) {
                fail(QStringLiteral("expect %1 needs one number").arg(first));
                return false;
            }
            e.operand = keep(words[1]);
            e.templated = !variablesIn(e.operand).isEmpty();
            return integer(e, e.operand);
        }
        if (words.size() == 1 &&
            (is(first, u"accepted") || is(first, u"true") || is(first, u"false"))) {
            e.kind = is(first, u"accepted") ? Kind::Accepted : Kind::Boolean;
            e.flag = is(first, u"true");
            return true;
        }
        if (is(first, u"picture")) {
            static thread_local const QRegularExpression size(
                QStringLiteral("^picture\\s+(\\d{1,9})\\s*x\\s*(\\d{1,9})$"));
            static thread_local const QRegularExpression digest(
                QStringLiteral("^picture\\s+sha256\\s+([0-9A-Fa-f]{64})$"));
            if (const QRegularExpressionMatch m = size.match(rest); m.hasMatch()) {
                e.kind = Kind::PictureSize;
                e.width = m.captured(1).toInt();
                e.height = m.captured(2).toInt();
                return true;
            }
            if (const QRegularExpressionMatch m = digest.match(rest); m.hasMatch()) {
                e.kind = Kind::PictureSha256;
                e.operand = m.captured(1).toLower();
                return true;
            }
            if (!isList(family)) {
                fail(QStringLiteral("expect picture takes 'W x H' or 'sha256' and 64 hex digits"));
                return false;
            }
        }
        if (is(first, u"entries") && words.size() == 2) {
            e.kind = Kind::Entries;
            e.operand = keep(words[1]);
            e.templated = !variablesIn(e.operand).isEmpty();
            return integer(e, e.operand);
        }
        if (is(first, u"text") && family == Family::Message &&
            (is(words.value(1), u"=") || is(words.value(1), u"~")))
            return valueOrPattern(Kind::TextEquals, Kind::TextMatches, 1);
        // NAME = VALUE, NAME ~ REGEX, NAME absent: the name may hold blanks.
        for (qsizetype i = 1; i < words.size(); ++i) {
            if (is(words[i], u"=") || is(words[i], u"~")) {
                e.name = name(words, i);
                e.templated = !variablesIn(e.name).isEmpty();
                return valueOrPattern(Kind::EntryEquals, Kind::EntryMatches, i);
            }
        }
        if (words.size() >= 2 && is(words.last(), u"absent")) {
            e.kind = Kind::EntryAbsent;
            e.name = name(words, words.size() - 1);
            e.templated = !variablesIn(e.name).isEmpty();
            return true;
        }
        fail(QStringLiteral("cannot read 'expect %1'").arg(rest));
        return false;
    }

    void expect(QStringView rest) {
        if (!needCall("expect"))
            return;
        if (rest.isEmpty()) {
            fail(QStringLiteral("expect needs an expectation"));
            return;
        }
        // Like call lines, an expect line read before under a call of the
        // same family is taken as it was read.
        const QString spelling = keep(rest);
        auto& read = readBefore_[static_cast<size_t>(current_->entry->family)];
        if (current_->expectations.empty())
            current_->expectations.reserve(4); // room for the few most calls have
        if (const auto known = read.constFind(spelling); known != read.constEnd()) {
            current_->expectations.push_back(*known);
            current_->expectations.back().line = number_;
            return;
        }
        Expectation e;
        e.line = number_;
        e.source = spelling;
        if (!this->read(rest, e))
            return;
        if (!fits(e.kind, current_->entry->family)) {
            fail(QStringLiteral("'expect %1' does not fit %2, which answers %3")
                     .arg(rest, current_->method, describe(current_->entry->family)));
            return;
        }
        if (e.templated && !variablesKnown(e.name + e.operand))
            return;
        if (e.kind == Kind::EntryEquals || e.kind == Kind::EntryMatches) {
            e.nameBytes = keepBytes(e.name);
            e.valueBytes = keepBytes(QStringView(e.operand).trimmed());
        }
        // One with variables depends on what is known at its line.
        if (!e.templated)
            read.insert(spelling, e);
        current_->expectations.push_back(std::move(e));
    }

    void capture(QStringView rest) {
        if (!needCall("capture"))
            return;
        const qsizetype eq = rest.indexOf(u'=');
        Capture c;
        c.line = number_;
        c.variable = keep((eq < 0 ? rest : rest.first(eq)).trimmed());
        if (eq >= 0)
            c.entry = keep(rest.sliced(eq + 1).trimmed());
        if (!isIdentifier(c.variable)) {
            fail(QStringLiteral("capture needs a variable name (letters, digits, _), not '%1'")
                     .arg(c.variable));
            return;
        }
        const Family family = current_->entry->family;
        if (eq >= 0 && (c.entry.isEmpty() || !isList(family))) {
            fail(c.entry.isEmpty()
                     ? QStringLiteral("capture %1 = needs an entry name").arg(c.variable)
                     : QStringLiteral("'capture %1 = %2' does not fit %3, which answers %4")
                           .arg(c.variable, c.entry, current_->method, describe(family)));
            return;
        }
        if (eq < 0 && family != Family::Number && family != Family::Busy &&
            family != Family::Message) {
            fail(QStringLiteral("%1 answers %2: capture %3 = ENTRY takes one entry, capture %3 "
                                "alone is for a number, yes/no or text")
                     .arg(current_->method, describe(family), c.variable));
            return;
        }
        known_.insert(c.variable, number_);
        current_->captures.push_back(std::move(c));
    }

    QString path_;
    Scenario& scenario_;
    QStringList& errors_;
    QHash<QString, int> known_; // variable -> line that sets it (0: --var)
    QHash<QString, QRegularExpression> patterns_;
    QHash<QString, Call> calls_; // the call lines read, by their words as written
    // The expect lines read, by what follows "expect", per family answered.
    std::array<QHash<QString, Expectation>, static_cast<size_t>(Family::Picture) + 1> readBefore_;
    Call* current_ = nullptr;
    bool refused_ = false; // the last call line was refused
    int number_ = 0;
    QByteArrayView lineBytes_;
    QStringView lineText_;
};

} // namespace

const QRegularExpression& noPattern() {
    // One a thread: a long file is read on two, and a count shared by both
    // would bounce between their cores with every expectation copied.
    static thread_local const QRegularExpression none;
    return none;
}

bool substitute(const QString& text, const Variables& variables, QString& result, QString& error) {
    if (!text.contains(u"{{")) {
        result = text;
        return true;
    }
    QString out;
    qsizetype from = 0;
    while (true) {
        const qsizetype open = text.indexOf(u"{{", from);
        const qsizetype close = open < 0 ? -1 : text.indexOf(u"}}", open + 2);
        if (close < 0) {
            out += QStringView(text).sliced(from);
            break;
        }
        const QString name =
            QStringView(text).sliced(open + 2, close - open - 2).trimmed().toString();
        if (!isIdentifier(name)) {
            out += QStringView(text).sliced(from, open + 2 - from);
            from = open + 2;
            continue;
        }
        const auto found = variables.constFind(name);
        if (found == variables.constEnd()) {
            error = QStringLiteral("{{%1}} has no value (its capture took none)").arg(name);
            return false;
        }
        out += QStringView(text).sliced(from, open - from);
        out += *found;
        from = close + 2;
    }
    result = out;
    return true;
}

bool argumentsFor(const Call& call, const Variables& variables, QStringList& words,
                  std::shared_ptr<NameValueList>& list, QString& error) {
    if (!call.templated) {
        words = call.words;
        list = call.arguments;
        return true;
    }
    words.clear();
    for (const QString& word : call.words) {
        QString s;
        if (!substitute(word, variables, s, error))
            return false;
        words.append(s);
    }
    list.reset(new NameValueList{0, nullptr, nullptr}, releaseList);
    return buildArguments(*call.entry, words, *list, error);
}

std::vector<QByteArrayView> linesOf(const QByteArray& content) {
    std::vector<QByteArrayView> lines;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        end = end < 0 ? content.size() : end + 1;
        lines.push_back(QByteArrayView(content).sliced(start, end - start));
        start = end;
    }
    return lines;
}

namespace {

QByteArrayView withoutBreak(QByteArrayView line) {
    while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r'))
        line.chop(1);
    return line;
}

QStringView withoutBreak(QStringView line) {
    while (!line.isEmpty() && (line.back() == u'\n' || line.back() == u'\r'))
        line.chop(1);
    return line;
}

// Reads the lines of `text` (whose bytes, valid UTF-8, are `bytes`): the
// first is line `number`. Line breaks are ASCII, so the text's lines are
// the bytes' lines.
void readLines(Parser& parser, QStringView text, QByteArrayView bytes, int number) {
    // ASCII text (one character a byte) breaks where its bytes do.
    const bool ascii = text.size() == bytes.size();
    qsizetype at = 0, byteAt = 0;
    while (at < text.size()) {
        const auto* found = static_cast<const char*>(
            std::memchr(bytes.data() + byteAt, '\n', static_cast<size_t>(bytes.size() - byteAt)));
        const qsizetype byteEnd = found == nullptr ? bytes.size() : found - bytes.data() + 1;
        qsizetype end = byteEnd;
        if (!ascii) {
            end = text.indexOf(u'\n', at);
            end = end < 0 ? text.size() : end + 1;
        }
        const QStringView line = withoutBreak(text.sliced(at, end - at));
        parser.at(number++, withoutBreak(bytes.sliced(byteAt, byteEnd - byteAt)), line);
        parser.line(line);
        at = end;
        byteAt = byteEnd;
    }
}

// Files with more lines than this are read on two threads.
constexpr qsizetype TwoThreadLines = 20'000;

// Where the second half of `bytes` begins: the first call line past the
// middle (statements after it belong to it alone), or bytes.size().
qsizetype secondHalf(QByteArrayView bytes) {
    qsizetype at = bytes.indexOf('\n', bytes.size() / 2);
    while (at >= 0 && at + 1 < bytes.size()) {
        ++at;
        qsizetype word = at;
        while (word < bytes.size() && (bytes[word] == ' ' || bytes[word] == '\t'))
            ++word;
        const QByteArrayView rest = bytes.sliced(word);
        if (rest.startsWith("call") && (rest.size() == 4 || rest[4] == ' ' || rest[4] == '\t' ||
                                        rest[4] == '\r' || rest[4] == '\n'))
            return at;
        at = bytes.indexOf('\n', at);
    }
    return bytes.size();
}

// The UTF-16 length of valid UTF-8.
qsizetype utf16Length(QByteArrayView valid) {
    qsizetype n = 0;
    for (const char c : valid) {
        const auto u = static_cast<unsigned char>(c);
        n += (u & 0xC0) != 0x80; // each character's first byte
        n += u >= 0xF0;          // outside the BMP: a surrogate pair
    }
    return n;
}

} // namespace

bool parse(const QString& path, const QByteArray& content, const QStringList& given,
           Scenario& scenario, QStringList& errors) {
    const qsizetype before = errors.size();
    scenario = Scenario();
    scenario.path = path;
    scenario.content = content;
    qsizetype breaks = 0;
    for (const char *p = content.constData(), *end = p + content.size();
         (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) !=
         nullptr;
         ++p)
        ++breaks;
    if (breaks >= MaxLines) {
        errors.append(
            QStringLiteral("%1: more than %2 lines; not a scenario file").arg(path).arg(MaxLines));
        return false;
    }
    QByteArrayView bytes = content;
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    if (bom)
        bytes = bytes.sliced(3);
    if (bytes.isValidUtf8() && !bytes.contains('\0')) {
        // Decoded once: every line is a view of the one text, which the
        // calls may point into.
        scenario.text = QString::fromUtf8(bytes);
        const QStringView text = scenario.text;
        const qsizetype split = breaks > TwoThreadLines ? secondHalf(bytes) : bytes.size();
        const qsizetype textSplit =
            text.size() == bytes.size() ? split : utf16Length(bytes.first(split));
        // The parser points at the last call only until the next is added.
        Parser first(path, given, scenario, errors);
        if (split == bytes.size()) {
            readLines(first, text, bytes, 1);
            return errors.size() == before;
        }
        // A long file: the half from a call line past the middle is read
        // beside the first into a part of its own, then moved after it.
        // (QByteArrayView::count searches for a one-byte string: slower.)
        const int secondLine =
            static_cast<int>(std::count(bytes.begin(), bytes.begin() + split, '\n')) + 1;
        Scenario part;
        QStringList partErrors;
        const auto readSecond = [&](const QHash<QString, int>& above) {
            part.calls.clear();
            partErrors.clear();
            Parser second(path, given, part, partErrors);
            second.knowAlso(above);
            readLines(second, text.sliced(textSplit), bytes.sliced(split), secondLine);
        };
        std::thread beside([&] { readSecond({}); });
        readLines(first, text.first(textSplit), bytes.first(split), 1);
        beside.join();
        // The second half could not know what the first captured: read
        // again knowing it, the errors are those of one reading in order.
        if (!partErrors.isEmpty())
            readSecond(first.known());
        errors += partErrors;
        scenario.calls.insert(scenario.calls.end(), std::make_move_iterator(part.calls.begin()),
                              std::make_move_iterator(part.calls.end()));
        return errors.size() == before;
    }
    // Line by line, so that each bad one is named.
    Parser parser(path, given, scenario, errors);
    int number = 0;
    for (QByteArrayView raw : linesOf(content)) {
        if (number == 0 && bom)
            raw = raw.sliced(3);
        const QByteArrayView line = withoutBreak(raw);
        parser.at(++number);
        if (!line.isValidUtf8()) {
            parser.fail(QStringLiteral("not valid UTF-8"));
            continue;
        }
        if (line.contains('\0')) {
            parser.fail(QStringLiteral("holds a NUL character"));
            continue;
        }
        parser.line(QString::fromUtf8(line));
    }
    return errors.size() == before;
}

bool parseFile(const QString& path, const QStringList& given, Scenario& scenario,
               QStringList& errors) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        errors.append(QStringLiteral("%1: cannot read: %2").arg(path, file.errorString()));
        return false;
    }
    // A file is read at its own size (one byte more tells that it grew): a
    // buffer of the largest size would cost its pages on every run.
    const qint64 want =
        file.isSequential() ? MaxFileBytes + 1 : std::min<qint64>(file.size(), MaxFileBytes) + 1;
    QByteArray content = file.read(want);
    if (content.size() == want && want <= MaxFileBytes && file.error() == QFileDevice::NoError)
        content += file.read(MaxFileBytes + 1 - want);
    if (file.error() != QFileDevice::NoError) {
        errors.append(QStringLiteral("%1: cannot read: %2").arg(path, file.errorString()));
        return false;
    }
    if (content.size() > MaxFileBytes) {
        errors.append(QStringLiteral("%1: larger than %2 MiB; not a scenario file")
                          .arg(path)
                          .arg(MaxFileBytes / (1024 * 1024)));
        return false;
    }
    return parse(path, content, given, scenario, errors);
}

} // namespace scenario
