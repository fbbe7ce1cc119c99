#pragma once

#include <string>
#include <vector>

// Repeatable random texts for the tests that run a rule over many inputs: each text is a run of
// pieces drawn from a list, so that the odd cases (references, tags, broken sequences) meet in
// every order. The same seed always gives the same texts.
class TRandomText {
public:
    explicit TRandomText(unsigned seed) : FState(seed) {}

    // The next raw value, 0..32767.
    unsigned Next() {
        FState = FState * 1103515245u + 12345u;
        return (FState >> 16) & 0x7FFF;
    }

    // From 0 to maxPieces pieces (inclusive), each drawn from pieces.
    std::string Text(int maxPieces, const std::vector<std::string>& pieces) {
        const unsigned count = Next() % static_cast<unsigned>(maxPieces + 1);
        std::string text;
        for (unsigned i = 0; i < count; ++i)
            text += pieces[Next() % pieces.size()];
        return text;
    }

private:
    unsigned FState;
};
