#pragma once

// For tests that run the whole program: when the environment variable TOVELRSS_TEST_MESSAGES names
// a file, every message box and question is appended to that file instead of being shown, one
// line each ("message<TAB>text" or "question<TAB>text", line breaks in the text written as "\n"),
// and questions are answered by TOVELRSS_TEST_ANSWER: "yes", "no", or anything else for the
// question's default. Without the variable nothing changes.
void InstallTestMessagesFromEnvironment();
