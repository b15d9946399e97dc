// The real window on a real display for scripts/demo-screenshot: connects to
// a running cardwright-sim, opens a design, shows the current record's badge
// and the record itself, and saves a grab of the window.
//   e2e_demo_window PORT DESIGN.idc OUT.png
#include "recording_ui.h"
#include "window_driver.h"

#include <QAction>
#include <QPixmap>

#include <cstdio>

namespace {

int fail(const char* what, const e2e::WindowDriver& driver) {
    std::fprintf(stderr, "e2e_demo_window: %s (error %s: %s)\n", what,
                 qPrintable(driver.errorCode()), qPrintable(driver.message()));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    vcl::Application application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: e2e_demo_window PORT DESIGN.idc OUT.png\n");
        return 2;
    }
    fake::RecordingUi ui; // a box would block an unattended run: record it instead
    int rc = 0;
    {
        TForm1 form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        e2e::WindowDriver driver(form);
        form.HostName->setText(QStringLiteral("127.0.0.1"));
        form.PortNumber->setText(QString::fromLocal8Bit(argv[1]));
        form.Connect1->trigger();
        if (form.MethodsComboBox->count() == 0)
            return fail("Connect found no methods", driver);
        const QString opened = driver.command(
            QStringLiteral("Open"), {QStringLiteral("File=") + QString::fromLocal8Bit(argv[2])});
        if (opened != QStringLiteral("0"))
            return fail(qPrintable(QStringLiteral("Open: ") + opened), driver);
        // The sample draws its dates from today's: one fixed date keeps the
        // picture the same from day to day.
        const QString dated =
            driver.command(QStringLiteral("Update"), {QStringLiteral("ValidUntil=2026-12-31")});
        if (dated != QStringLiteral("0"))
            return fail(qPrintable(QStringLiteral("Update: ") + dated), driver);
        // The picture first: a picture method clears the results list.
        driver.go(QStringLiteral("GetBadgeImage"));
        if (!form.Image1->hasPicture())
            return fail("GetBadgeImage showed no picture", driver);
        driver.go(QStringLiteral("GetRecord"));
        if (driver.results().isEmpty())
            return fail("GetRecord listed nothing", driver);
        QTest::qWait(300); // let the last paints land
        if (!form.grab().save(QString::fromLocal8Bit(argv[3])))
            rc = fail("cannot save the grab", driver);
        for (const QString& message : ui.messages)
            std::fprintf(stderr, "e2e_demo_window: the window showed a message: %s\n",
                         qPrintable(message));
    }
    return rc;
}
