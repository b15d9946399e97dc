// The application object shows exceptions escaping event handlers in the
// error box and goes on; ShowException uses the same box.
#include "recording_ui.h"
#include "vcl.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QTemporaryDir>
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

    bool event(QEvent* e) override {
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
std::vector<NotifyCase> throwCases() {
    return {
        {"nothing thrown", Throw::Nothing, {}},
        {"framework exception", Throw::Framework, {QStringLiteral("framework message")}},
        {"conversion error",
         Throw::Conversion,
         {QStringLiteral("'abc' is not a valid integer value")}},
        {"std::exception", Throw::Std, {QStringLiteral("standard message")}},
        {"anything else", Throw::Other, {QString()}},
    };
}

TEST(Application, NotifyShowsEscapingExceptionsAndGoesOn) {
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

TEST(RunHandler, ShowsWhatEscapesAndReturns) {
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

TEST(Application, ExceptionFromAQueuedEventDoesNotStopTheLoop) {
    fake::RecordingUi ui;
    Thrower target;
    target.what = Throw::Framework;
    QApplication::postEvent(&target, new QEvent(QEvent::User));
    QTimer::singleShot(0, app, &QCoreApplication::quit);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(target.handled, 1);
    EXPECT_EQ(ui.errors, std::vector<QString>{QStringLiteral("framework message")});
}

TEST(Application, ShowExceptionUsesTheErrorBox) {
    fake::RecordingUi ui;
    app->ShowException(QStringLiteral("start-up failed"));
    EXPECT_EQ(ui.errors, std::vector<QString>{QStringLiteral("start-up failed")});
    EXPECT_TRUE(ui.messages.empty());
}

TEST(Ui, SetUiNullRestoresTheDefault) {
    {
        fake::RecordingUi ui;
        EXPECT_EQ(&vcl::ui(), &ui);
        vcl::Sleep(1000); // recorded, not slept
        EXPECT_EQ(ui.sleeps, std::vector<uint32_t>{1000});
    }
    const vcl::Ui& current = vcl::ui();
    EXPECT_EQ(typeid(current), typeid(vcl::Ui));
}

// The default boxes and dialog, answered by a timer as a person would.
struct BoxCase {
    const char* name;
    void (vcl::Ui::*show)(const QString&);
    QMessageBox::Icon icon;
};

TEST(DefaultUi, BoxesShowTheTextWithOK) {
    const std::vector<BoxCase> cases = {
        {"message", &vcl::Ui::showMessage, QMessageBox::NoIcon},
        {"error", &vcl::Ui::showError, QMessageBox::Critical},
    };
    for (const auto& c : cases) {
        QString text;
        QMessageBox::Icon icon = QMessageBox::Question;
        QMessageBox::StandardButtons buttons;
        QTimer::singleShot(0, app, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            box->accept();
        });
        (vcl::ui().*c.show)(QStringLiteral("Line 1\nLine 2"));
        EXPECT_EQ(text, QStringLiteral("Line 1\nLine 2")) << c.name;
        EXPECT_EQ(icon, c.icon) << c.name;
        EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok)) << c.name;
    }
}

TEST(DefaultUi, OpenFileOffersTheFilterAndReturnsThePathOrNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("my badge.idc"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    for (const bool accept : {true, false}) {
        QStringList filters;
        QTimer::singleShot(0, app, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            filters = dialog->nameFilters();
            if (!accept) {
                static_cast<QDialog*>(dialog)->reject();
                return;
            }
            dialog->setDirectory(dir.path());
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        const std::optional<QString> chosen =
            vcl::ui().openFile(nullptr, vcl::DialogFilter(QStringLiteral("IDC File|*.idc")));
        EXPECT_EQ(filters, QStringList{QStringLiteral("IDC File (*.idc)")});
        if (accept)
            EXPECT_EQ(chosen, std::optional<QString>(QDir(path).absolutePath()));
        else
            EXPECT_EQ(chosen, std::nullopt);
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    vcl::Application application(argc, argv);
    app = &application;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
