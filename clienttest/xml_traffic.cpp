// xml_traffic.cpp - the access key and the XML menu: switch the library's
// recording of requests and responses, and show the last ones.
#include "tform1.h"

#include <QAction>
#include <QByteArray>
#include <QLineEdit>
#include <QPlainTextEdit>

void TForm1::Button1Click(QObject* /*sender*/)
{
    const QString key = AccessKey->text();
    if (key.isEmpty())
        return;
    const QByteArray bytes = key.toUtf8(); // as typed, blanks included
    ::SetXMLAccessKey(bytes.constData());
}

void TForm1::EnableXMLAccess1Click(QObject* /*sender*/)
{
    EnableXMLAccess1->setChecked(!EnableXMLAccess1->isChecked());
    ::EnableXMLAccess(EnableXMLAccess1->isChecked() ? 1 : 0);
}

void TForm1::GetSentXML1Click(QObject* /*sender*/) { ShowXMLText(::GetSentXML()); }

void TForm1::GetReceivedXML1Click(QObject* /*sender*/) { ShowXMLText(::GetReceivedXML()); }

void TForm1::ShowXMLText(const char* text)
{
    ResultsList->clear();
    if (text == nullptr)
        return;
    QString lines = QString::fromUtf8(text);
    // Every CR, LF or CR LF is one line break; the memo knows only LF.
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(u'\r', u'\n');
    ResultsList->setPlainText(lines);
}
