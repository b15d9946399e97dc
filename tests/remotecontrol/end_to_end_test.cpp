// The real window linked to the real client library, against Python's
// standard XML-RPC server on loopback.
#include "window_fixture.h"

#include <QAction>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>

namespace {

// Records like the test Ui but really sleeps, so the wait costs its real time.
class SleepingUi : public fake::RecordingUi {
public:
    void sleep(uint32_t milliseconds) override
    {
        RecordingUi::sleep(milliseconds);
        vcl::Ui::sleep(milliseconds);
    }
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TForm1>();
        form->show();
        form->HostName->setText(QStringLiteral("127.0.0.1"));
    }
    void TearDown() override
    {
        form.reset();
        if (server.state() != QProcess::NotRunning) {
            server.closeWriteChannel(); // the server stops when its input closes
            if (!server.waitForFinished(5000)) {
                server.kill();
                server.waitForFinished(5000);
            }
        }
    }

    // Starts the server; returns its port and its own list of method names.
    void startServer(int& port, QStringList& methods)
    {
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(QStringLiteral(CW_PYTHON), {QStringLiteral(CW_E2E_SERVER)});
        ASSERT_TRUE(server.waitForStarted(10000)) << server.errorString().toStdString();
        while (!server.canReadLine())
            ASSERT_TRUE(server.waitForReadyRead(10000)) << "the server printed no port";
        const QJsonObject hello = QJsonDocument::fromJson(server.readLine()).object();
        port = hello.value(QStringLiteral("port")).toInt();
        ASSERT_GT(port, 0);
        for (const QJsonValue& name : hello.value(QStringLiteral("methods")).toArray())
            methods.append(name.toString());
        ASSERT_FALSE(methods.isEmpty());
    }

    SleepingUi ui;
    std::unique_ptr<TForm1> form;
    QProcess server;
};

TEST_F(EndToEnd, ConnectFillsTheListFromTheServersOwnNames)
{
    int port = 0;
    QStringList methods;
    ASSERT_NO_FATAL_FAILURE(startServer(port, methods));
    form->PortNumber->setText(QString::number(port));

    form->Connect1->trigger();

    QStringList items;
    for (int i = 0; i < form->MethodsComboBox->count(); ++i)
        items.append(form->MethodsComboBox->itemText(i));
    EXPECT_EQ(items, methods);
    EXPECT_TRUE(items.contains(QStringLiteral("system.listMethods")));
    EXPECT_EQ(form->MethodsComboBox->currentIndex(), 0);
    EXPECT_EQ(form->ErrorCode->text(), QString());
    EXPECT_EQ(form->Message->text(), QString());
    EXPECT_TRUE(ui.sleeps.empty());

    // The library records the exchange; the XML view shows the request.
    form->GetSentXML1->trigger();
    EXPECT_TRUE(form->ResultsList->toPlainText().contains(QStringLiteral("system.listMethods")));
}

TEST_F(EndToEnd, ConnectWhereNothingListensShowsTheLibrarysErrorAfterTheWait)
{
    // A port that was free a moment ago and has nobody listening now.
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    form->PortNumber->setText(QString::number(port));

    QElapsedTimer clock;
    clock.start();
    form->Connect1->trigger();
    const qint64 elapsed = clock.elapsed();

    EXPECT_EQ(ui.sleeps, std::vector<uint32_t>(15, 1000));
    EXPECT_GE(elapsed, 15000);
    EXPECT_LT(elapsed, 15000 + 15 * 2500) << "each refused attempt returns quickly";
    EXPECT_EQ(form->MethodsComboBox->count(), 0);
    EXPECT_EQ(form->remoteMethods(), nullptr);
    EXPECT_EQ(form->ErrorCode->text(), QString::number(::GetErrorCode()));
    EXPECT_EQ(form->ErrorCode->text(), QString::number(CWX_ERR_CONNECT));
    EXPECT_EQ(form->Message->text(), QString::fromUtf8(::GetErrorText()));
    EXPECT_TRUE(form->Message->text().contains(QString::number(port))) << form->Message->text().toStdString();
}

} // namespace
