// connection.cpp - "Connect": hand host and port to the library, then wait
// for the remote application to answer with its method names.
#include "tform1.h"

#include "vcl.h"

#include <QByteArray>
#include <QComboBox>
#include <QLineEdit>
#include <QStringList>

namespace {

// The remote application may still be starting (right after a launch), so
// it gets this many one-second chances to answer.
constexpr int32_t ConnectAttempts = 15;
constexpr uint32_t AttemptPauseMs = 1000;

} // namespace

void TForm1::Connect1Click(QObject* /*sender*/)
{
    ErrorCode->clear();
    Message->clear();
    MethodsComboBox->clear();

    // Raises EConvertError for a port that is not an integer, which ends up in
    // the framework's error box. No range check: the library judges the port.
    const int32_t port = vcl::StrToInt(PortNumber->text());
    ::SetXMLPort(port);
    const QByteArray host = HostName->text().toUtf8(); // untrimmed, "" when empty
    ::SetHostName(host.constData());

    int32_t counter = ConnectAttempts;
    for (;;) {
        RemoteMethods = ::GetMethods(); // the library's list; never freed here
        if (RemoteMethods != nullptr)
            break;
        Message->setText(QStringLiteral("Waiting for CW to become available: %1").arg(counter));
        // The loop blocks the event loop, so paint now or the countdown is never seen.
        repaint();
        vcl::Sleep(AttemptPauseMs);
        if (--counter == 0)
            break;
    }
    Message->clear();

    if (RemoteMethods == nullptr) {
        ShowLastError();
        return;
    }
    // A list that claims entries but has no value array is malformed: show
    // no names rather than read through a null pointer.
    QStringList names;
    if (RemoteMethods->values != nullptr && RemoteMethods->count > 0) {
        names.reserve(RemoteMethods->count);
        for (int32_t i = 0; i < RemoteMethods->count; ++i) {
            const char* name = RemoteMethods->values[i];
            names.append(QString::fromUtf8(name != nullptr ? name : ""));
        }
    }
    // One insertion: a server with thousands of methods fills the list at once.
    MethodsComboBox->addItems(names);
    if (MethodsComboBox->count() > 0)
        MethodsComboBox->setCurrentIndex(0);
}
