// vcl.cpp - the framework's boxes, dialog, sleep and application object on Qt.
#include "vcl.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

#include <exception>

namespace vcl {

namespace {

QString boxTitle()
{
    const QString name = QApplication::applicationDisplayName();
    return name.isEmpty() ? QApplication::applicationName() : name;
}

Ui& defaultUi()
{
    static Ui instance;
    return instance;
}

Ui* current = nullptr;

} // namespace

void Ui::showMessage(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, boxTitle(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void Ui::showError(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, boxTitle(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

std::optional<QString> Ui::openFile(QWidget* parent, const QString& filter)
{
    const QString path = QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

void Ui::sleep(uint32_t milliseconds)
{
    // Blocks on purpose: the caller relies on no input being processed.
    QThread::msleep(milliseconds);
}

Ui& ui() { return current != nullptr ? *current : defaultUi(); }

void setUi(Ui* replacement) { current = replacement; }

void ShowHandlerException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        ui().showError(e.Message);
    } catch (const std::exception& e) {
        ui().showError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        // Anything else carries no message of its own.
        ui().showError(QString());
    }
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event)
{
    // Qt does not stop an exception that escapes a handler; the framework
    // shows it and carries on, and the client relies on that.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowHandlerException(std::current_exception());
    }
    return false;
}

void Application::ShowException(const QString& message) { ui().showError(message); }

} // namespace vcl
