// recording_ui.h - a vcl::Ui for tests: records message boxes, error boxes
// and sleeps instead of blocking, and answers the file-open dialog from a
// script. Installs itself for its lifetime.
#pragma once

#include "vcl.h"

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace fake {

class RecordingUi : public vcl::Ui {
  public:
    RecordingUi() { vcl::setUi(this); }
    ~RecordingUi() override { vcl::setUi(nullptr); }
    RecordingUi(const RecordingUi&) = delete;
    RecordingUi& operator=(const RecordingUi&) = delete;

    std::vector<QString> messages;      // ShowMessage texts, in order
    std::vector<QString> errors;        // error-box texts, in order
    std::vector<uint32_t> sleeps;       // requested sleeps in ms, in order
    std::vector<QString> dialogFilters; // the Qt filter of each file dialog shown
    // Answers for the file-open dialog, front first; none left: cancelled.
    std::deque<std::optional<QString>> fileAnswers;
    // Run at each sleep, after it is recorded (e.g. to read the window).
    std::function<void(uint32_t)> onSleep;
    // Run at each message box, after it is recorded.
    std::function<void(const QString&)> onMessage;

    void showMessage(const QString& text) override {
        messages.push_back(text);
        if (onMessage)
            onMessage(text);
    }
    void showError(const QString& text) override { errors.push_back(text); }
    std::optional<QString> openFile(QWidget* /*parent*/, const QString& filter) override {
        dialogFilters.push_back(filter);
        // Copying the optional itself trips g++ 12's maybe-uninitialized
        // warning at -O3, so the answer is taken apart and rebuilt.
        std::optional<QString> answer;
        if (!fileAnswers.empty()) {
            if (fileAnswers.front().has_value())
                answer.emplace(*fileAnswers.front());
            fileAnswers.pop_front();
        }
        return answer;
    }
    void sleep(uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        if (onSleep)
            onSleep(milliseconds);
    }
};

} // namespace fake
