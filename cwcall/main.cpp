// main.cpp - cwcall: one method of the workbench's catalogue, called from the
// command line through the client library, its result printed as the
// window's Returns box shows it (or as JSON).
#include "argument_list.h"
#include "command_line.h"
#include "methods.h"
#include "png_file.h"
#include "result_text.h"
#include "scenario.h"
#include "test_runner.h"
#include "vcl_text.h"

#include "cwxmlclient.h"

#include <QByteArray>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

enum ExitCode { Success = 0, Failure = 1, Usage = 2 };

// The connection wait's pause, as the window's Connect has it.
constexpr auto AttemptPause = std::chrono::seconds(1);

void write(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

void writeLine(std::FILE* stream, const QString& text) {
    write(stream, text + u'\n');
}

// "error CODE: TEXT", the library's code and text.
int libraryFailure(int32_t code, const QString& text) {
    writeLine(stderr, QStringLiteral("error %1: %2").arg(code).arg(text));
    return Failure;
}

int lastLibraryFailure() {
    const int32_t code = ::GetErrorCode(); // the text belongs to this code
    return libraryFailure(code, resulttext::fromLibrary(::GetErrorText()));
}

int usageFailure(const QString& reason) {
    // One line: the parser's messages carry a line break for the window's box.
    QString line = reason;
    line.replace(u'\n', u' ');
    writeLine(stderr, QStringLiteral("cwcall: ") + line);
    writeLine(stderr, cwcall::usageHint());
    return Usage;
}

// ---- JSON ---------------------------------------------------------------------

QString jsonString(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += QStringLiteral("\\\"");
            break;
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
            else
                out += c;
        }
    }
    return out + u'"';
}

QString jsonList(const NameValueList& list) {
    QStringList items;
    const auto entry = [](char* const* strings, int32_t i) {
        return resulttext::fromLibrary(strings != nullptr ? strings[i] : nullptr);
    };
    for (int32_t i = 0; i < list.count; ++i)
        items.append(QStringLiteral("{\"name\": %1, \"value\": %2}")
                         .arg(jsonString(entry(list.names, i)), jsonString(entry(list.values, i))));
    return u'[' + items.join(QStringLiteral(", ")) + u']';
}

QString jsonStrings(const QStringList& strings) {
    QStringList items;
    for (const QString& s : strings)
        items.append(jsonString(s));
    return u'[' + items.join(QStringLiteral(", ")) + u']';
}

// ---- The steps ------------------------------------------------------------------

// Host, port and key as the window hands them over. False after a failure
// (already reported).
bool connectSettings(const cwcall::Options& o) {
    if (::SetXMLPort(o.port) == 0 || ::SetHostName(o.host.toUtf8().constData()) == 0) {
        lastLibraryFailure();
        return false;
    }
    if (!o.key.isEmpty() && ::SetXMLAccessKey(o.key.toUtf8().constData()) == 0) {
        lastLibraryFailure();
        return false;
    }
    return true;
}

// GetMethods up to `attempts` times, one second apart, as Connect does. The
// countdown goes to a terminal only, so scripts see a clean stderr. The
// list, or null after the last failure.
const NameValueList* waitForMethods(int32_t attempts) {
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    const NameValueList* methods = nullptr;
    for (int32_t left = attempts; left > 0; --left) {
        methods = ::GetMethods();
        if (methods != nullptr || left == 1)
            break;
        if (terminal) {
            write(stderr, QStringLiteral("\rWaiting for CW to become available: %1 ").arg(left));
            std::fflush(stderr);
        }
        std::this_thread::sleep_for(AttemptPause);
    }
    if (terminal && attempts > 1)
        write(stderr, QStringLiteral("\r\x1b[K"));
    return methods;
}

int printMethods(const NameValueList& list, bool json) {
    // As Connect fills the method list: a list that claims entries but has
    // no value array is malformed and shows no names.
    QStringList names;
    for (int32_t i = 0; list.values != nullptr && i < list.count; ++i)
        names.append(resulttext::fromLibrary(list.values[i]));
    if (json)
        writeLine(stdout, jsonStrings(names));
    else if (!names.isEmpty())
        writeLine(stdout, names.join(u'\n'));
    return Success;
}

int printHelp(const QString& method, bool json) {
    const methods::HelpDisplay display = methods::help(method.toUtf8());
    // A failed part (the prototypes or the help) fails the whole: a script
    // reads either the complete display or nothing, and the exit status says which.
    if (display.error)
        return libraryFailure(display.error->first, display.error->second);
    if (json) {
        // The window's lines, headings included, as an array of strings.
        writeLine(stdout, jsonStrings(display.appends.join(u'\n').split(u'\n')));
    } else {
        for (const QString& text : display.appends)
            writeLine(stdout, text);
    }
    return Success;
}

int printPicture(CWBitmap bitmap, const cwcall::Options& o) {
    const int32_t width = cw_bitmap_width(bitmap);
    const int32_t height = cw_bitmap_height(bitmap);
    int status = Success;
    QString error;
    if (o.out && !cwcall::writePngFile(bitmap, *o.out, error)) {
        writeLine(stderr, QStringLiteral("cwcall: cannot write %1: %2").arg(*o.out, error));
        status = Failure;
    } else if (o.json) {
        writeLine(stdout, QStringLiteral("{\"width\": %1, \"height\": %2, \"file\": %3}")
                              .arg(width)
                              .arg(height)
                              .arg(o.out ? jsonString(*o.out) : QStringLiteral("null")));
    } else if (!o.out) {
        writeLine(stdout, QStringLiteral("%1 x %2 picture").arg(width).arg(height));
    }
    cw_bitmap_delete(bitmap);
    return status;
}

// The value of the first entry named exactly `name`, alone on its line.
int printField(const NameValueList& list, const QString& name, bool json) {
    for (int32_t i = 0; list.names != nullptr && i < list.count; ++i) {
        if (resulttext::fromLibrary(list.names[i]) != name)
            continue;
        const QString value =
            resulttext::fromLibrary(list.values != nullptr ? list.values[i] : nullptr);
        writeLine(stdout, json ? jsonString(value) : value);
        return Success;
    }
    writeLine(stderr, QStringLiteral("error: the answer has no entry '%1'").arg(name));
    return Failure;
}

int printOutcome(const methods::Outcome& outcome, const cwcall::Options& o) {
    using Kind = methods::Outcome::Kind;
    switch (outcome.kind) {
    case Kind::Failed:
        return libraryFailure(outcome.errorCode, outcome.errorText);
    case Kind::Picture:
        return printPicture(outcome.bitmap, o);
    case Kind::List:
        if (o.field)
            return printField(*outcome.list, *o.field, o.json);
        break;
    case Kind::Accepted:
    case Kind::Number:
    case Kind::Boolean:
    case Kind::Text:
        break;
    }
    if (!o.json) {
        if (const std::optional<QString> text = outcome.returns())
            writeLine(stdout, *text);
        return Success;
    }
    switch (outcome.kind) {
    case Kind::List:
        writeLine(stdout, jsonList(*outcome.list));
        break;
    case Kind::Accepted:
        writeLine(stdout, QStringLiteral("{\"status\": \"accepted\"}"));
        break;
    case Kind::Number:
        writeLine(stdout, QString::number(outcome.number));
        break;
    case Kind::Boolean:
        writeLine(stdout, outcome.flag ? QStringLiteral("true") : QStringLiteral("false"));
        break;
    default:
        writeLine(stdout, jsonString(outcome.text));
        break;
    }
    return Success;
}

void printXml() {
    // Each body on lines of its own, whether or not it ends in a line break.
    const auto body = [](const char* xml) {
        const QString text = resulttext::fromLibrary(xml);
        write(stderr, text.endsWith(u'\n') || text.isEmpty() ? text : text + u'\n');
    };
    writeLine(stderr, QStringLiteral("Sent XML:"));
    body(::GetSentXML());
    writeLine(stderr, QStringLiteral("Received XML:"));
    body(::GetReceivedXML());
}

// Appends the call and its expectations to the scenario file: the method and
// the argument words as given (never the access key, which is an option).
bool record(const QString& path, const cwcall::Options& o, const methods::Outcome& outcome) {
    QString error;
    if (scenario::appendRecording(path, scenario::recordedCall(o.method, o.arguments, outcome),
                                  error))
        return true;
    writeLine(stderr, QStringLiteral("cwcall: not recorded: ") + error);
    return false;
}

// The argument words as the window's argument list. Raises UsageError.
void buildArguments(const methods::Entry& entry, const QStringList& words, NameValueList& list) {
    QString error;
    if (!scenario::buildArguments(entry, words, list, error))
        throw cwcall::UsageError(error);
}

int run(int argc, char** argv) {
    cwcall::Options o;
    const methods::Entry* entry = nullptr;
    NameValueList args{0, nullptr, nullptr};
    try {
        o = cwcall::parseCommandLine(argc, argv);
        if (o.mode == cwcall::Options::Mode::Call) {
            entry = methods::find(o.method);
            if (entry == nullptr)
                throw cwcall::UsageError(
                    QStringLiteral("'%1' is not a method of the catalogue (names are spelt "
                                   "exactly, letter case counts)")
                        .arg(o.method));
            if (o.out && entry->family != methods::Family::Picture)
                throw cwcall::UsageError(QStringLiteral("--out is for picture methods only"));
            if (o.field && entry->family != methods::Family::List &&
                entry->family != methods::Family::Record)
                throw cwcall::UsageError(QStringLiteral("--field is for list methods only"));
            buildArguments(*entry, o.arguments, args);
        }
    } catch (const cwcall::UsageError& e) {
        return usageFailure(e.Reason);
    }

    switch (o.mode) {
    case cwcall::Options::Mode::Help:
        write(stdout, cwcall::usageText());
        return Success;
    case cwcall::Options::Mode::Version:
        writeLine(stdout, QStringLiteral("cwcall " CWCALL_VERSION));
        return Success;
    default:
        break;
    }

    int status = Success;
    QString recordError;
    if (o.record && !scenario::appendRecording(*o.record, QString(), recordError)) {
        // Before anything is sent: a call that changes the roster must not
        // go unrecorded.
        writeLine(stderr, QStringLiteral("cwcall: not recorded: ") + recordError);
        status = Failure;
    } else if (!connectSettings(o)) {
        status = Failure;
    } else {
        if (o.xml)
            ::EnableXMLAccess(1);
        const NameValueList* methodNames = o.wait > 0 ? waitForMethods(o.wait) : nullptr;
        if (o.wait > 0 && methodNames == nullptr) {
            status = lastLibraryFailure();
        } else if (o.mode == cwcall::Options::Mode::List) {
            if (methodNames == nullptr)
                methodNames = ::GetMethods();
            status =
                methodNames != nullptr ? printMethods(*methodNames, o.json) : lastLibraryFailure();
        } else if (o.mode == cwcall::Options::Mode::HelpMethod) {
            status = printHelp(o.method, o.json);
        } else {
            const methods::Outcome outcome = methods::callChecked(*entry, args);
            // Recorded before it is printed: printing a picture deletes it.
            const bool recorded = !o.record || record(*o.record, o, outcome);
            status = printOutcome(outcome, o);
            if (!recorded)
                status = Failure;
        }
        if (o.xml)
            printXml();
    }
    ::CloseXML();
    arguments::release(args);

    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fputs("cwcall: cannot write the output\n", stderr);
        return Failure;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    const int status = argc > 1 && std::strcmp(argv[1], "test") == 0 ? cwcall::runTests(argc, argv)
                                                                     : run(argc, argv);
    // Ends without the libraries' own teardown (TLS, Kerberos, ICU and
    // the rest that libcurl and Qt Core load): nothing of it outlives the
    // process, and it costs about a millisecond of a 30 ms call. Output is
    // flushed first.
    std::fflush(nullptr);
    std::_Exit(status);
}
