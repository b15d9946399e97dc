// The application object shows exceptions escaping event handlers in the
// error box and goes on; ShowException uses the same box.
#include "recording_ui.h"
#include "vcl.h"

#include <QEvent>
#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <typeinfo>

namespace {

vcl::Application* app = nullptr;

enum class Throw { Nothing, Framework, Conversion, Std, Other };

class Thrower : public QObject {
public:
    Throw what = Throw::Nothing;
    int handled = 0;

    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        ++handled;
        switch (what) {
        case Throw::Nothing:
            return true;
        case Throw::Framework:
            throw vcl::Exception(QStringLiteral("framework message"));
        case Throw::Conversion:
            vcl::StrToInt(QStringLiteral("abc"));
            return true;
        case Throw::Std:
            throw std::runtime_error("standard message");
        case Throw::Other:
            throw 42;
        }
        return true;
    }
};

struct NotifyCase {
    const char* name;
    Throw what;
    std::vector<QString> errors;
};

// What each kind of escaping exception shows in the error box.
std::vector<NotifyCase> throwCases()
{
    return {
        {"nothing thrown", Throw::Nothing, {}},
        {"framework exception", Throw::Framework, {QStringLiteral("framework message")}},
        {"conversion error", Throw::Conversion, {QStringLiteral("'abc' is not a valid integer value")}},
        {"std::exception", Throw::Std, {QStringLiteral("standard message")}},
        {"anything else", Throw::Other, {QString()}},
    };
}

TEST(Application, NotifyShowsEscapingExceptionsAndGoesOn)
{
    const std::vector<NotifyCase> cases = throwCases();
    for (const auto& c : cases) {
        fake::RecordingUi ui;
        Thrower target;
        target.what = c.what;
        QEvent first(QEvent::User);
        QApplication::sendEvent(&target, &first);
        // The program goes on: the next event is delivered as usual.
        target.what = Throw::Nothing;
        QEvent second(QEvent::User);
        EXPECT_TRUE(QApplication::sendEvent(&target, &second)) << c.name;
        EXPECT_EQ(target.handled, 2) << c.name;
        EXPECT_EQ(ui.errors, c.errors) << c.name;
    }
}

TEST(RunHandler, ShowsWhatEscapesAndReturns)
{
    const std::vector<NotifyCase> cases = throwCases();
    for (const auto& c : cases) {
        fake::RecordingUi ui;
        Thrower target;
        target.what = c.what;
        int after = 0;
        EXPECT_NO_THROW(vcl::RunHandler([&] {
            QEvent e(QEvent::User);
            target.event(&e);
            ++after;
        })) << c.name;
        EXPECT_EQ(after, c.what == Throw::Nothing ? 1 : 0) << c.name;
        EXPECT_EQ(ui.errors, c.errors) << c.name;
    }
}

TEST(Application, ExceptionFromAQueuedEventDoesNotStopTheLoop)
{
    fake::RecordingUi ui;
    Thrower target;
    target.what = Throw::Framework;
    QApplication::postEvent(&target, new QEvent(QEvent::User));
    QTimer::singleShot(0, app, &QCoreApplication::quit);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(target.handled, 1);
    EXPECT_EQ(ui.errors, std::vector<QString>{QStringLiteral("framework message")});
}

TEST(Application, ShowExceptionUsesTheErrorBox)
{
    fake::RecordingUi ui;
    app->ShowException(QStringLiteral("start-up failed"));
    EXPECT_EQ(ui.errors, std::vector<QString>{QStringLiteral("start-up failed")});
    EXPECT_TRUE(ui.messages.empty());
}

TEST(Ui, SetUiNullRestoresTheDefault)
{
    {
        fake::RecordingUi ui;
        EXPECT_EQ(&vcl::ui(), &ui);
        vcl::Sleep(1000); // recorded, not slept
        EXPECT_EQ(ui.sleeps, std::vector<uint32_t>{1000});
    }
    EXPECT_EQ(typeid(vcl::ui()), typeid(vcl::Ui));
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    vcl::Application application(argc, argv);
    app = &application;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
