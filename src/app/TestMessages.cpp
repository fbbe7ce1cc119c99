#include "app/TestMessages.h"

#include <cstdlib>
#include <fstream>
#include <string>

#include "ui/Messages.h"

namespace {

class TFileMessages : public IMessages {
public:
    TFileMessages(std::string logFile, std::string answer)
        : FLogFile(std::move(logFile)), FAnswer(std::move(answer)) {}

    void ShowMessage(const std::string& text) override { Append("message", text); }

    bool AskYesNo(const std::string& text, bool defaultYes) override {
        Append("question", text);
        if (FAnswer == "yes")
            return true;
        if (FAnswer == "no")
            return false;
        return defaultYes;
    }

private:
    void Append(const char* kind, const std::string& text) {
        std::string line = std::string(kind) + "\t";
        for (const char c : text)
            line += c == '\n' ? std::string("\\n") : std::string(1, c);
        std::ofstream(FLogFile, std::ios::app) << line << '\n';
    }

    std::string FLogFile;
    std::string FAnswer;
};

} // namespace

void InstallTestMessagesFromEnvironment() {
    const char* logFile = std::getenv("TOVELRSS_TEST_MESSAGES");
    if (!logFile || !logFile[0])
        return;
    const char* answer = std::getenv("TOVELRSS_TEST_ANSWER");
    static TFileMessages messages(logFile, answer ? answer : "");
    SetMessagesForTesting(&messages);
}
