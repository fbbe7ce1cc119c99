#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "TempDir.h"
#include "ui/Messages.h"
#include "ui/ProdInfo.h"
#include "ui/QtDispatcher.h"

// Answers the program's questions from a script and records every text shown or asked, so that
// no modal box ever opens in a test.
class TScriptedMessages : public IMessages {
public:
    TScriptedMessages() { SetMessagesForTesting(this); }
    ~TScriptedMessages() override { SetMessagesForTesting(nullptr); }
    TScriptedMessages(const TScriptedMessages&) = delete;
    TScriptedMessages& operator=(const TScriptedMessages&) = delete;

    void ShowMessage(const std::string& text) override { Shown.push_back(text); }
    bool AskYesNo(const std::string& text, bool) override {
        Asked.push_back(text);
        if (Answers.empty())
            return false;
        const bool answer = Answers.front();
        Answers.pop_front();
        return answer;
    }

    std::vector<std::string> Shown;
    std::vector<std::string> Asked;
    // The answers to the next questions, in order; No once they run out.
    std::deque<bool> Answers;
};

// The one node of the tree with exactly this text, at any depth; nullptr when there is none or
// more than one.
inline QTreeWidgetItem* FindNode(const QTreeWidget& tree, const QString& text) {
    const QList<QTreeWidgetItem*> found = tree.findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.size() == 1 ? found.first() : nullptr;
}

// Runs action on the next modal dialog as soon as its event loop runs (a dialog run by exec()).
inline void WhenModal(std::function<void(QWidget&)> action) {
    QTimer::singleShot(0, [action] {
        QWidget* dialog = QApplication::activeModalWidget();
        QVERIFY2(dialog, "no modal dialog is open");
        action(*dialog);
    });
}

// Every test class of the folder registers itself with TOVEL_UI_TEST_MAIN; the folder's main()
// (UiTestMain.cpp) runs them in one QApplication, one class or all of them.
using TUiTestFactory = std::unique_ptr<QObject> (*)();
std::map<std::string, TUiTestFactory>& UiTestClasses();

#define TOVEL_UI_TEST_MAIN(TestClass)                                                                        \
    static const bool TestClass##Registered = (                                                              \
        UiTestClasses()[#TestClass] = [] { return std::unique_ptr<QObject>(new TestClass); }, true);
