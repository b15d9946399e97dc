// main.cpp - the test client's entry: the application object, the program's
// options, the one main window, the message loop.
#include "entry.h"
#include "scenario.h"
#include "tform1.h"

#include "vcl.h"

#include <cstdio>

int main(int argc, char** argv) {
    vcl::Application application(argc, argv);
    // Qt has taken its own options out of argv by now.
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(QString::fromLocal8Bit(argv[i]));
    entry::Options options;
    QString error;
    if (!entry::readCommandLine(words, options, error)) {
        std::fprintf(stderr, "cardwright-testclient: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    // A record file that cannot be written is refused before the window opens.
    if (!options.recordFile.isEmpty() &&
        !scenario::appendRecording(options.recordFile, QString(), error)) {
        std::fprintf(stderr, "cardwright-testclient: cannot record: %s\n",
                     error.toLocal8Bit().constData());
        return 2;
    }
    entry::setRecordFile(options.recordFile);
    return entry::run(
        [] {
            TForm1 form;
            Form1 = &form;
            form.show();
            vcl::Application::exec();
            Form1 = nullptr;
        },
        [&application](const QString& message) {
            Form1 = nullptr;
            application.ShowException(message);
        });
}
