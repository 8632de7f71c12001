// The benchmark corpus: the raw messages under $ORVELANE_CORPUS (filled by
// scripts/fetch-corpus.sh), with CR LF line ends as a POP3 server delivers them.
#pragma once

#include <string>
#include <vector>

struct CorpusMessage {
    std::string group; // easy-ham-1, spam-2, ...
    std::string text;  // CR LF line ends
};

// Loads at most `limit` messages (0 = all), in a fixed order. Empty when the
// corpus is not there.
const std::vector<CorpusMessage>& LoadCorpus(size_t limit = 0);
size_t CorpusBytes(const std::vector<CorpusMessage>& corpus);
