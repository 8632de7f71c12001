// Matching one text against a whole rule list in a single pass.
//
// A list is compiled once into an automaton over all its entries (or, for
// header tests, over the star-separated parts of its entries). Scanning a text
// then costs the same whatever the number of rules, and the answer is the one
// a walk over the entries in list order would give: the first entry in list
// order that matches, and for the body search the position of that entry's
// first occurrence.
#pragma once

#include "filter/RuleSet.h"

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Removes every separator character from `text` in place; every space too when
// `alsoSpaces` is set.
void RemoveSeparatorsInPlace(std::string& text, bool alsoSpaces);
bool IsSeparator(unsigned char c, bool alsoSpaces);

// A multi-pattern automaton over bytes. Every distinct pattern is one node of
// the trie; the transition table is complete (no failure links are followed
// while scanning) over the bytes that occur in some pattern.
class CPatternAutomaton
{
public:
    // Adds a pattern and returns its node; equal patterns share their node.
    // The empty pattern is the root, node 0.
    int32_t Add(std::string_view pattern);
    // Computes the failure links and completes the transition table. With
    // `foldUpper` a text byte moves the automaton as its upper-case form does,
    // so searching a text is searching its upper-case copy.
    void Finish(bool foldUpper = false, size_t maxCells = kMaxCells);

    // Set by Finish when the table would exceed kMaxCells; the automaton is
    // then unusable and its users fall back to a walk over the entries.
    bool TooLarge() const { return m_bTooLarge; }
    static constexpr size_t kMaxCells = size_t(1) << 24; // 64 MB of transitions
    // Frees the transition table once a user has copied what it needs.
    void ReleaseTable() { std::vector<int32_t>().swap(m_delta); }

    int32_t NodeCount() const { return static_cast<int32_t>(m_depth.size()); }
    int32_t Depth(int32_t node) const { return m_depth[static_cast<size_t>(node)]; }
    // Nodes in breadth-first order (parents before children), after Finish.
    const std::vector<int32_t>& Order() const { return m_order; }
    int32_t Fail(int32_t node) const { return m_fail[static_cast<size_t>(node)]; }
    int32_t Next(int32_t node, unsigned char c) const
    {
        return m_delta[static_cast<size_t>(node) * m_nClasses + m_scanClass[c]];
    }
    // Column of each text byte in the transition table.
    const uint8_t* Classes() const { return m_scanClass; }
    const int32_t* Table() const { return m_delta.data(); }
    size_t ClassCount() const { return m_nClasses; }

private:
    int32_t Child(int32_t node, unsigned char c);

    // Built while adding: trie edges, (node << 8 | byte) -> child.
    std::unordered_map<uint64_t, int32_t> m_edges;
    std::vector<int32_t> m_depth{0};
    std::vector<int32_t> m_fail;
    std::vector<int32_t> m_order;
    std::vector<int32_t> m_delta;
    uint8_t m_class[256] = {};     // column of each pattern byte
    uint8_t m_scanClass[256] = {}; // column of each text byte
    size_t m_nClasses = 1;
    bool m_bTooLarge = false;
};

// A rule list compiled for one kind of search.
class CRuleMatcher
{
public:
    enum EMode { kHeaderTest, kBodySearch };

    // Compiles `list` as it stands. With `stripSeparators` every entry first
    // loses its separators and spaces, as the searches of that kind require.
    // A list whose automaton would need more than `maxCells` transitions is
    // searched entry by entry instead.
    CRuleMatcher(const RuleList& list, EMode mode, bool stripSeparators,
                 size_t maxCells = CPatternAutomaton::kMaxCells);
    bool IsCompiled() const { return !m_bPlain; }

    EMode Mode() const { return m_mode; }
    bool StripsSeparators() const { return m_bStrip; }
    int32_t EntryCount() const { return static_cast<int32_t>(m_entries.size()); }
    // The entry as stored in the list, and as searched (stripped or not).
    const std::string& Entry(int32_t index) const { return m_entries[static_cast<size_t>(index)]; }
    const std::string& SearchedEntry(int32_t index) const
    {
        return m_searched[static_cast<size_t>(index)];
    }

    // Header test: index of the first entry, in list order, all of whose
    // star-separated parts occur in `text`; -1 when none.
    int32_t FirstHeaderMatch(std::string_view text);
    // Body search: index of the first entry, in list order, that occurs in the
    // upper-case form of `text` at or after `start`, with the position of its
    // first occurrence there in *position; -1 when none.
    int32_t FirstBodyMatch(std::string_view text, size_t start, size_t* position) const;

private:
    template <typename Flagged>
    bool BuildScanTable(size_t nodes, Flagged flagged);
    int32_t PlainHeaderMatch(std::string_view text) const;
    int32_t PlainBodyMatch(std::string_view text, size_t start, size_t* position) const;
    void StampParts(uint32_t state);

    EMode m_mode;
    bool m_bStrip;
    bool m_bPlain = false; // too large to compile: entries are walked one by one
    std::vector<std::string> m_entries;
    std::vector<std::string> m_searched;
    CPatternAutomaton m_automaton;

    static constexpr int32_t kNone = INT32_MAX;
    // The transitions as (next row * columns); rows from m_nHitFrom / columns
    // on are the nodes where some entry (body) or part (header) ends.
    std::vector<uint32_t> m_scan;
    std::vector<int32_t> m_nodeAt; // row -> node
    uint32_t m_nHitFrom = UINT32_MAX;
    // Body search: per node the lowest entry
    // index among the patterns that end there (itself or through its failure
    // chain), and that pattern's length.
    std::vector<int32_t> m_minEntry;
    std::vector<int32_t> m_minLength;
    int32_t m_nEmptyEntry = kNone; // lowest entry whose pattern is empty
    int32_t m_nLongest = 0;        // length of the longest pattern

    // Header test.
    std::vector<int32_t> m_outputLink;  // nearest node on the failure chain that ends a part, or -1
    std::vector<uint8_t> m_endsPart;    // the node itself is a part
    std::vector<std::vector<int32_t>> m_postings; // node -> entries holding that part
    std::vector<int32_t> m_partCount;   // entry -> number of distinct parts
    int32_t m_nAlwaysEntry = kNone;     // lowest entry without any part
    int32_t m_nLongestPart = 0;         // length of the longest part
    // Scratch state of one test, reset by bumping the epoch.
    uint32_t m_nEpoch = 0;
    std::vector<uint32_t> m_nodeSeen;
    std::vector<uint32_t> m_entryEpoch;
    std::vector<int32_t> m_entryHits;
    std::vector<int32_t> m_found;
};
