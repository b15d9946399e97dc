// form_fixture.h - a TForm1 shown headless against the scripted double, with
// message boxes recorded, and helpers that drive it the way a user does.
#pragma once

#include "fake_cwxmlclient.h"
#include "recording_ui.h"
#include "tform1.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '{';
    for (const QString& s : l)
        *os << '"' << s.toStdString() << "\" ";
    *os << '}';
}

class FormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        form = std::make_unique<TForm1>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override
    {
        form.reset();
        fake::reset();
    }

    template <class T> T* find(const QString& name) const
    {
        T* widget = form->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    template <class T> T* find(const char* name) const { return find<T>(QString::fromUtf8(name)); }

    QLineEdit* errorCode() const { return find<QLineEdit>("ErrorCode"); }
    QLineEdit* message() const { return find<QLineEdit>("Message"); }
    Memo* results() const { return find<Memo>("ResultsList"); }
    Memo* parameters() const { return find<Memo>("Parameters"); }
    RadioGroup* paramType() const { return find<RadioGroup>("ParamTypeRadioGroup"); }

    // Puts `names` into the method list as a connection would, selects the
    // first, and forgets the calls made so far.
    void listMethods(const QStringList& names)
    {
        auto* combo = find<QComboBox>("MethodsComboBox");
        combo->clear();
        combo->addItems(names);
        if (!names.isEmpty())
            combo->setCurrentIndex(0);
    }

    // Selects `method` and presses "Go".
    void go(const QString& method)
    {
        listMethods({method});
        find<QPushButton>("ToolKitButton")->click();
    }
    void go(const char* method) { go(QString::fromUtf8(method)); }

    // Fills the three outputs so that a test can see what a handler clears.
    void fillOutputs()
    {
        errorCode()->setText(QStringLiteral("old code"));
        message()->setText(QStringLiteral("old message"));
        results()->setPlainText(QStringLiteral("old line"));
    }

    static std::vector<std::string> calls() { return fake::callNames(); }

    fake::RecordingUi ui; // outlives the form
    std::unique_ptr<TForm1> form;
};
