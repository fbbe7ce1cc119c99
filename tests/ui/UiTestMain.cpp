#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "UiTestSupport.h"

std::map<std::string, TUiTestFactory>& UiTestClasses() {
    static std::map<std::string, TUiTestFactory> classes;
    return classes;
}

// UiTest [TestClass] [QTest arguments...]: the class named first runs alone, else every class
// of the program runs; the result fails when any test fails.
int main(int argc, char** argv) {
    // The settings go to a folder of the test's own: the user's are never read or written.
    TempDir config;
    ScopedEnv configHome("XDG_CONFIG_HOME", config.Path().c_str());
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    // The browser's sandbox refuses to start as root (a container's test run); the pages shown
    // are the tests' own.
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Qt WebEngine wants the shared contexts set before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // The workers' calls reach the windows through the event loop, as in the program.
    TQtDispatcher dispatcher;
    FillProductInfo();

    std::vector<char*> args(argv, argv + argc);
    std::vector<std::string> chosen;
    if (args.size() > 1 && args[1][0] != '-') {
        if (!UiTestClasses().count(args[1])) {
            std::fprintf(stderr, "%s: no test class %s in this program\n", argv[0], args[1]);
            return 2;
        }
        chosen.push_back(args[1]);
        args.erase(args.begin() + 1);
    } else {
        for (const auto& [name, factory] : UiTestClasses())
            chosen.push_back(name);
    }
    int failed = 0;
    for (const std::string& name : chosen) {
        const std::unique_ptr<QObject> test = UiTestClasses()[name]();
        if (QTest::qExec(test.get(), static_cast<int>(args.size()), args.data()) != 0)
            ++failed;
    }
    return failed == 0 ? 0 : 1;
}
