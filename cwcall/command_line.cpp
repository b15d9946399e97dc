// command_line.cpp - cwcall's options.
#include "command_line.h"

#include "vcl_text.h"

#include <QStringDecoder>

#include <cstring>

namespace cwcall {

QString decodeWord(const char* word) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(word, static_cast<qsizetype>(std::strlen(word))));
    if (decoder.hasError())
        throw UsageError(QStringLiteral("'%1' is not valid UTF-8").arg(text));
    return text;
}

int32_t integerOption(const QString& option, const QString& value, int32_t lowest,
                      int32_t highest) {
    int32_t n = 0;
    try {
        n = vcl::StrToInt(value);
    } catch (const vcl::EConvertError& e) {
        throw UsageError(option + QStringLiteral(": ") + e.Message);
    }
    if (n < lowest || n > highest)
        throw UsageError(QStringLiteral("%1 must be from %2 to %3, not %4")
                             .arg(option)
                             .arg(lowest)
                             .arg(highest)
                             .arg(n));
    return n;
}

int32_t portOption(const QString& value) {
    try {
        return vcl::StrToInt(value);
    } catch (const vcl::EConvertError& e) {
        throw UsageError(QStringLiteral("--port: ") + e.Message);
    }
}

bool connectionOption(OptionReader& options, Connection& c) {
    const QString& name = options.name();
    if (name == u"--host")
        c.host = options.value(); // as given, like the window's Host Name
    else if (name == u"--port")
        c.port = portOption(options.value());
    else if (name == u"--key")
        c.key = options.value();
    else if (name == u"--wait")
        c.wait = integerOption(name, options.value(), 0, MaxWait);
    else
        return false;
    return true;
}

bool OptionReader::next(QStringList& positional) {
    while (at_ < words_.size()) {
        const QString& word = words_.at(at_++);
        if (word == u"--") {
            positional += words_.mid(at_);
            at_ = words_.size();
            break;
        }
        if (!word.startsWith(u'-') || word == u"-") {
            positional.append(word);
            continue;
        }
        name_ = word;
        value_.reset();
        if (const qsizetype eq = word.indexOf(u'=');
            word.startsWith(QStringLiteral("--")) && eq > 0) {
            name_ = word.first(eq);
            value_ = word.sliced(eq + 1);
        }
        return true;
    }
    return false;
}

QString OptionReader::value() {
    if (value_)
        return *std::exchange(value_, std::nullopt);
    if (at_ >= words_.size())
        throw UsageError(QStringLiteral("option %1 needs a value").arg(name_));
    return words_.at(at_++);
}

void OptionReader::noValue() const {
    if (value_)
        throw UsageError(QStringLiteral("option %1 takes no value").arg(name_));
}

QString OptionReader::fileValue() {
    QString path = value();
    if (path.isEmpty())
        throw UsageError(QStringLiteral("%1 needs a file name").arg(name_));
    return path;
}

Options parseCommandLine(int argc, char** argv) {
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(decodeWord(argv[i]));

    Options o;
    QStringList positional;
    bool helpMethod = false;
    bool list = false;
    OptionReader options(words);
    while (options.next(positional)) {
        const QString& name = options.name();
        if (connectionOption(options, o))
            continue;
        if (name == u"--out") {
            o.out = options.fileValue();
        } else if (name == u"--field") {
            o.field = options.value();
            if (o.field->isEmpty())
                throw UsageError(QStringLiteral("--field needs an entry name"));
        } else if (name == u"--record") {
            o.record = options.fileValue();
        } else if (name == u"--help-method") {
            o.method = options.value();
            helpMethod = true;
        } else if (name == u"--json") {
            options.noValue();
            o.json = true;
        } else if (name == u"--xml") {
            options.noValue();
            o.xml = true;
        } else if (name == u"--list") {
            options.noValue();
            list = true;
        } else if (name == u"--help") {
            options.noValue();
            o.mode = Options::Mode::Help;
            return o;
        } else if (name == u"--version") {
            options.noValue();
            o.mode = Options::Mode::Version;
            return o;
        } else {
            throw UsageError(QStringLiteral("unknown option '%1'").arg(name));
        }
    }

    if (helpMethod && list)
        throw UsageError(QStringLiteral("--list and --help-method do not go together"));
    if (helpMethod || list) {
        if (!positional.isEmpty())
            throw UsageError(QStringLiteral("unexpected '%1' after %2")
                                 .arg(positional.first(), list ? QStringLiteral("--list")
                                                               : QStringLiteral("--help-method")));
        if (o.out)
            throw UsageError(QStringLiteral("--out is for picture methods only"));
        if (o.field)
            throw UsageError(QStringLiteral("--field is for list methods only"));
        if (o.record)
            throw UsageError(QStringLiteral("--record is for method calls only"));
        o.mode = list ? Options::Mode::List : Options::Mode::HelpMethod;
        return o;
    }
    if (positional.isEmpty())
        throw UsageError(QStringLiteral("no method given"));
    o.method = positional.takeFirst();
    o.arguments = positional;
    return o;
}

QString usageText() {
    return QStringLiteral(
        "Usage: cwcall [OPTION]... METHOD [Name=Value]...\n"
        "  or:  cwcall [OPTION]... --list\n"
        "  or:  cwcall [OPTION]... --help-method METHOD\n"
        "  or:  cwcall test [OPTION]... FILE...   (see 'cwcall test --help')\n"
        "Call one of the 54 remote methods of a running Cardwright through the\n"
        "client library, and print what came back exactly as the test client's\n"
        "Returns box shows it.\n"
        "\n"
        "Options:\n"
        "  --host H            host name of Cardwright (default localhost)\n"
        "  --port P            port of Cardwright (default 8080)\n"
        "  --key K             access key sent with every request (default none)\n"
        "  --wait N            before the call, ask for the method list up to N times,\n"
        "                      one second apart, until Cardwright answers\n"
        "  --json              print the result as JSON\n"
        "  --out FILE          picture methods: write the picture to FILE as PNG\n"
        "  --field NAME        list methods: print only the value of the entry NAME\n"
        "                      (exit status 1 when the list has no such entry)\n"
        "  --record FILE       append the call and what came back to the scenario\n"
        "                      FILE, as 'cwcall test' replays it (made readable by\n"
        "                      its owner only)\n"
        "  --xml               after the call, print the last XML sent and received\n"
        "                      on standard error\n"
        "  --list              print the method names the server offers\n"
        "  --help-method M     print the prototypes and help of method M\n"
        "  --help              show this help and exit\n"
        "  --version           show the version and exit\n"
        "\n"
        "Each Name=Value word is one line of the window's argument box: the name\n"
        "and the value are trimmed, the value is cut at 999 characters. The method\n"
        "name is spelt exactly as the catalogue spells it (letter case counts).\n"
        "\n"
        "Output: a list prints one \"name = value\" line per entry; a command prints\n"
        "\"Pending command accepted\"; a number, True or False, or a text prints as\n"
        "such; a picture prints \"W x H picture\" unless --out is given. With --json:\n"
        "a list is an array of {\"name\", \"value\"} objects, a command\n"
        "{\"status\": \"accepted\"}, then a number, a boolean, a string, or\n"
        "{\"width\", \"height\", \"file\"} for a picture.\n"
        "\n"
        "Exit status:\n"
        "  0  success\n"
        "  1  the call failed, remotely or in the library: \"error CODE: TEXT\" on\n"
        "     standard error and nothing on standard output (--help-method: when\n"
        "     the prototypes or the help cannot be read); also --field naming no\n"
        "     entry, a picture that cannot be written, a call not recorded\n"
        "  2  usage error: unknown option, method outside the catalogue, malformed\n"
        "     or refused argument\n"
        "\n"
        "Examples:\n"
        "  cwcall --wait 15 GetCount\n"
        "  cwcall Select LastName=Petrov\n"
        "  cwcall --field Selected GetCount\n"
        "  cwcall --json GetRecord\n"
        "  cwcall --out badge.png GetBadgeImage\n"
        "  cwcall --record visit.cwt GetRecord Id=5\n"
        "  cwcall test visit.cwt\n");
}

QString usageHint() {
    return QStringLiteral("Try 'cwcall --help' for more information.");
}

} // namespace cwcall
