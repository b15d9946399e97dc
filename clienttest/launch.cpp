// launch.cpp - the six launch items of the File menu: pick a design file,
// have the library start Cardwright or RosterLink with it, then connect.
#include "tform1.h"

#include "vcl.h"

#include <QByteArray>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>

bool OpenDialog::Execute(QWidget* parent)
{
    const std::optional<QString> chosen = vcl::ui().openFile(parent, vcl::DialogFilter(Filter));
    if (!chosen)
        return false;
    FileName = *chosen;
    return true;
}

void TForm1::Open1Click(QObject* /*sender*/) { LaunchApplication(&::LaunchCW, CWX_SHOW_NORMAL); }

void TForm1::LaunchCWMinimized1Click(QObject* /*sender*/)
{
    LaunchApplication(&::LaunchCW, CWX_SHOW_MINIMIZED);
}

void TForm1::LaunchCWHidden1Click(QObject* /*sender*/) { LaunchApplication(&::LaunchCW, CWX_SHOW_HIDDEN); }

// The menu item LaunchRL shadows the library function of the same name here.
void TForm1::LaunchRLClick(QObject* /*sender*/) { LaunchApplication(&::LaunchRL, CWX_SHOW_NORMAL); }

void TForm1::LaunchRLMinimized1Click(QObject* /*sender*/)
{
    LaunchApplication(&::LaunchRL, CWX_SHOW_MINIMIZED);
}

void TForm1::LaunchRLHidden1Click(QObject* /*sender*/) { LaunchApplication(&::LaunchRL, CWX_SHOW_HIDDEN); }

void TForm1::LaunchApplication(LaunchFunction launch, int32_t showMode)
{
    ErrorCode->clear();
    Message->clear();
    if (!OpenDialog1.Execute(this))
        return; // cancelled: the method list keeps what it had

    MethodsComboBox->clear();
    // The path exactly as the file system spells it.
    const QByteArray path = QFile::encodeName(OpenDialog1.FileName);
    if (launch(path.constData(), showMode) != 0)
        Connect1Click(nullptr);
    else
        ShowLastError();
}
