// entry.h - the program's start: its options, then, guarded, create the
// window and run the loop.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace entry {

// The window program's own options, read after Qt has taken its own from
// the command line. Other words are ignored, as they always were.
struct Options {
    QString recordFile; // --record FILE: each call made with "Go" is appended; empty: none
};

// Reads the words after the program name into `options`. False with the
// reason in `error` for --record without a file name.
bool readCommandLine(const QStringList& words, Options& options, QString& error);

// The file the window records its calls to (empty: none); set at start-up.
void setRecordFile(const QString& path);
QString recordFile();

// Runs `steps` (create the main window, run the message loop). A framework
// Exception that escapes is handed to `showException` with its message,
// anything else with an empty message. Always answers exit code 0.
int run(const std::function<void()>& steps,
        const std::function<void(const QString&)>& showException);

} // namespace entry
