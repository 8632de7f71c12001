#include "filter/RuleMatcher.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The separator characters, plus the space as a separate flag.
constexpr std::array<bool, 256> MakeSeparatorTable()
{
    std::array<bool, 256> table{};
    const unsigned char separators[] = {0x60, 0x2E, 0x27, 0x2C, 0x3B, 0x5E, 0x21, 0x25, 0x3F, 0x2A,
                                        0x24, 0x23, 0x7E, 0x2F, 0x5C, 0x2B, 0x3D, 0x28, 0x29, 0xB0,
                                        0x5B, 0x5D, 0xA7, 0x3C, 0x3E, 0x2D, 0x26, 0x5F};
    for (unsigned char c : separators)
        table[c] = true;
    return table;
}
constexpr std::array<bool, 256> kSeparators = MakeSeparatorTable();

} // namespace

bool IsSeparator(unsigned char c, bool alsoSpaces)
{
    return kSeparators[c] || (alsoSpaces && c == ' ');
}

void RemoveSeparatorsInPlace(std::string& text, bool alsoSpaces)
{
    char* out = text.data();
    const char* in = text.data();
    const char* end = in + text.size();
    for (; in != end; ++in) {
        const auto c = static_cast<unsigned char>(*in);
        if (!kSeparators[c] && !(alsoSpaces && c == ' '))
            *out++ = *in;
    }
    text.resize(static_cast<size_t>(out - text.data()));
}

// ---- automaton ----------------------------------------------------------------------

int32_t CPatternAutomaton::Child(int32_t node, unsigned char c)
{
    const uint64_t key = (static_cast<uint64_t>(node) << 8) | c;
    auto it = m_edges.find(key);
    if (it != m_edges.end())
        return it->second;
    const auto child = static_cast<int32_t>(m_depth.size());
    m_depth.push_back(m_depth[static_cast<size_t>(node)] + 1);
    m_edges.emplace(key, child);
    return child;
}

int32_t CPatternAutomaton::Add(std::string_view pattern)
{
    int32_t node = 0;
    for (char c : pattern)
        node = Child(node, static_cast<unsigned char>(c));
    return node;
}

void CPatternAutomaton::Finish()
{
    // Byte classes: every byte used by some pattern gets its own column, all
    // other bytes share column 0, which always leads back to the root.
    std::memset(m_class, 0, sizeof m_class);
    m_nClasses = 1;
    for (const auto& [key, child] : m_edges) {
        const auto c = static_cast<unsigned char>(key & 0xFF);
        if (!m_class[c])
            m_class[c] = static_cast<uint8_t>(m_nClasses++);
    }
    const size_t nodes = m_depth.size();

    // Children per node, grouped with a counting sort.
    std::vector<int32_t> firstChild(nodes + 1, 0);
    for (const auto& [key, child] : m_edges)
        ++firstChild[static_cast<size_t>(key >> 8) + 1];
    for (size_t i = 1; i <= nodes; ++i)
        firstChild[i] += firstChild[i - 1];
    std::vector<std::pair<unsigned char, int32_t>> children(m_edges.size());
    {
        std::vector<int32_t> fill(firstChild.begin(), firstChild.end() - 1);
        for (const auto& [key, child] : m_edges)
            children[static_cast<size_t>(fill[static_cast<size_t>(key >> 8)]++)] = {
                static_cast<unsigned char>(key & 0xFF), child};
    }

    m_delta.assign(nodes * m_nClasses, 0);
    m_fail.assign(nodes, 0);
    m_order.clear();
    m_order.reserve(nodes);
    m_order.push_back(0);
    for (size_t head = 0; head < m_order.size(); ++head) {
        const int32_t u = m_order[head];
        int32_t* row = &m_delta[static_cast<size_t>(u) * m_nClasses];
        if (u != 0) {
            const int32_t* failRow = &m_delta[static_cast<size_t>(m_fail[static_cast<size_t>(u)]) * m_nClasses];
            std::memcpy(row, failRow, m_nClasses * sizeof(int32_t));
        }
        for (int32_t k = firstChild[static_cast<size_t>(u)]; k < firstChild[static_cast<size_t>(u) + 1]; ++k) {
            const auto [byte, v] = children[static_cast<size_t>(k)];
            const size_t column = m_class[byte];
            // The failure of a child: where the parent's failure goes on this byte.
            m_fail[static_cast<size_t>(v)] = u == 0 ? 0 : row[column];
            row[column] = v;
            m_order.push_back(v);
        }
    }
    m_edges.clear();
}

// ---- compiled rule list -------------------------------------------------------------

CRuleMatcher::CRuleMatcher(const RuleList& list, EMode mode, bool stripSeparators)
    : m_mode(mode), m_bStrip(stripSeparators)
{
    for (const std::string* entry : list) {
        m_entries.push_back(*entry);
        std::string searched = *entry;
        if (stripSeparators)
            RemoveSeparatorsInPlace(searched, true);
        m_searched.push_back(std::move(searched));
    }
    const auto count = static_cast<int32_t>(m_entries.size());

    if (mode == kBodySearch) {
        // Every entry is one literal pattern; a star is an ordinary byte here.
        std::vector<int32_t> nodeOf(static_cast<size_t>(count));
        for (int32_t e = 0; e < count; ++e)
            nodeOf[static_cast<size_t>(e)] = m_automaton.Add(m_searched[static_cast<size_t>(e)]);
        m_automaton.Finish();
        const size_t nodes = static_cast<size_t>(m_automaton.NodeCount());
        std::vector<int32_t> own(nodes, kNone);
        for (int32_t e = count - 1; e >= 0; --e) {
            const int32_t node = nodeOf[static_cast<size_t>(e)];
            if (node == 0)
                m_nEmptyEntry = e;
            else
                own[static_cast<size_t>(node)] = e;
        }
        m_minEntry.assign(nodes, kNone);
        m_minLength.assign(nodes, 0);
        for (int32_t u : m_automaton.Order()) {
            if (u == 0)
                continue;
            const auto su = static_cast<size_t>(u);
            const auto f = static_cast<size_t>(m_automaton.Fail(u));
            // Patterns ending here: this node's own and those of its failure chain.
            m_minEntry[su] = m_minEntry[f];
            m_minLength[su] = m_minLength[f];
            if (own[su] < m_minEntry[su]) {
                m_minEntry[su] = own[su];
                m_minLength[su] = m_automaton.Depth(u);
            }
        }
        return;
    }

    // Header test: the non-empty star-separated parts of each entry.
    m_partCount.assign(static_cast<size_t>(count), 0);
    std::vector<std::vector<int32_t>> partsOf(static_cast<size_t>(count));
    for (int32_t e = 0; e < count; ++e) {
        const std::string& text = m_searched[static_cast<size_t>(e)];
        std::vector<int32_t>& parts = partsOf[static_cast<size_t>(e)];
        size_t start = 0;
        while (start <= text.size()) {
            size_t star = text.find('*', start);
            if (star == std::string::npos)
                star = text.size();
            if (star > start)
                parts.push_back(m_automaton.Add(std::string_view(text).substr(start, star - start)));
            start = star + 1;
        }
        std::sort(parts.begin(), parts.end());
        parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
        m_partCount[static_cast<size_t>(e)] = static_cast<int32_t>(parts.size());
        if (parts.empty() && m_nAlwaysEntry == kNone)
            m_nAlwaysEntry = e;
    }
    m_automaton.Finish();
    const size_t nodes = static_cast<size_t>(m_automaton.NodeCount());
    m_postings.assign(nodes, {});
    m_endsPart.assign(nodes, 0);
    for (int32_t e = 0; e < count; ++e)
        for (int32_t node : partsOf[static_cast<size_t>(e)]) {
            m_postings[static_cast<size_t>(node)].push_back(e);
            m_endsPart[static_cast<size_t>(node)] = 1;
        }
    m_outputLink.assign(nodes, -1);
    for (int32_t u : m_automaton.Order()) {
        if (u == 0)
            continue;
        const int32_t f = m_automaton.Fail(u);
        m_outputLink[static_cast<size_t>(u)] =
            (f != 0 && m_endsPart[static_cast<size_t>(f)]) ? f : m_outputLink[static_cast<size_t>(f)];
    }
    m_nodeSeen.assign(nodes, 0);
    m_entryEpoch.assign(static_cast<size_t>(count), 0);
    m_entryHits.assign(static_cast<size_t>(count), 0);
}

int32_t CRuleMatcher::FirstHeaderMatch(std::string_view text)
{
    if (m_entries.empty())
        return -1;
    int32_t best = m_nAlwaysEntry;
    if (best == 0)
        return 0;
    if (++m_nEpoch == 0) { // wrapped: start the stamps afresh
        std::fill(m_nodeSeen.begin(), m_nodeSeen.end(), 0);
        std::fill(m_entryEpoch.begin(), m_entryEpoch.end(), 0);
        m_nEpoch = 1;
    }
    // Collect every distinct part that occurs in the text. When a node is
    // stamped its whole output chain is stamped with it, so a stamped node
    // ends the walk.
    m_found.clear();
    const uint8_t* classes = m_automaton.Classes();
    const int32_t* table = m_automaton.Table();
    const size_t width = m_automaton.ClassCount();
    int32_t state = 0;
    for (char ch : text) {
        state = table[static_cast<size_t>(state) * width + classes[static_cast<unsigned char>(ch)]];
        int32_t node = m_endsPart[static_cast<size_t>(state)] ? state : m_outputLink[static_cast<size_t>(state)];
        for (; node > 0 && m_nodeSeen[static_cast<size_t>(node)] != m_nEpoch;
             node = m_outputLink[static_cast<size_t>(node)]) {
            m_nodeSeen[static_cast<size_t>(node)] = m_nEpoch;
            m_found.push_back(node);
        }
    }
    // An entry matches when all its parts were found.
    for (int32_t node : m_found)
        for (int32_t e : m_postings[static_cast<size_t>(node)]) {
            if (e >= best)
                break; // postings are in list order
            const auto se = static_cast<size_t>(e);
            if (m_entryEpoch[se] != m_nEpoch) {
                m_entryEpoch[se] = m_nEpoch;
                m_entryHits[se] = 0;
            }
            if (++m_entryHits[se] == m_partCount[se])
                best = e;
        }
    return best == kNone ? -1 : best;
}

int32_t CRuleMatcher::FirstBodyMatch(std::string_view text, size_t start, size_t* position) const
{
    if (m_entries.empty() || start > text.size())
        return -1;
    int32_t best = m_nEmptyEntry;
    size_t where = start;
    const uint8_t* classes = m_automaton.Classes();
    const int32_t* table = m_automaton.Table();
    const int32_t* minEntry = m_minEntry.data();
    const size_t width = m_automaton.ClassCount();
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    int32_t state = 0;
    for (size_t i = start; i < text.size() && best != 0; ++i) {
        state = table[static_cast<size_t>(state) * width + classes[bytes[i]]];
        // A lower entry seen for the first time: scanning left to right, this
        // is where its first occurrence ends.
        if (minEntry[state] < best) {
            best = minEntry[state];
            where = i + 1 - static_cast<size_t>(m_minLength[static_cast<size_t>(state)]);
        }
    }
    if (best == kNone)
        return -1;
    if (position)
        *position = where;
    return best;
}
