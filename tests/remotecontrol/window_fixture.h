// window_fixture.h - a TForm1 shown headless against whatever library the
// test binary links, with boxes, sleeps and the file dialog recorded.
#pragma once

#include "recording_ui.h"
#include "tform1.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TForm1>();
        form->show();
        // Painting needs a mapped window, even offscreen.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override { form.reset(); }

    QStringList comboItems() const
    {
        QStringList items;
        for (int i = 0; i < form->MethodsComboBox->count(); ++i)
            items.append(form->MethodsComboBox->itemText(i));
        return items;
    }

    fake::RecordingUi ui; // outlives the form
    std::unique_ptr<TForm1> form;
};
