#include "filter/RuleMatcher.h"

#include "base/Win1252.h"
#include "decode/ByteCompaction.h"

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
constexpr std::array<bool, 256> kSeparatorsAndSpace = [] {
    std::array<bool, 256> table = MakeSeparatorTable();
    table[' '] = true;
    return table;
}();

// How many stretches a text of `length` bytes is cut into for a walk whose
// stretches re-read `overlap` bytes: as many as keep each stretch's own part
// at least kMinStretch bytes long beyond that.
constexpr size_t kMaxLanes = 4;
constexpr size_t kMinStretch = 32;
size_t LaneCount(size_t length, size_t overlap)
{
    for (size_t lanes = kMaxLanes; lanes > 1; lanes /= 2)
        if (length >= lanes * (overlap + kMinStretch))
            return lanes;
    return 1;
}

// Walks of the scan table side by side, one byte of each per step, so that
// their chains of table look-ups overlap in time. Lane k reads `steps` bytes
// from starts[k] on, from the offset (row * width) in offsets[k], left there
// at the end. A cell holds the next offset itself, and the rows where a match
// may end have the highest offsets, from `hitFrom` on, so the chain is one
// addition and one load per byte. `hit(k, offset, j)` is called for every
// lane whose step j reaches such a row.
template <size_t N, typename Hit>
void WalkLanes(const uint32_t* scan, const uint8_t* classes, const unsigned char* const (&starts)[N],
               size_t steps, uint32_t hitFrom, uint32_t (&offsets)[N], Hit&& hit)
{
    uint32_t o[N];
    for (size_t k = 0; k < N; ++k)
        o[k] = offsets[k];
    for (size_t j = 0; j < steps; ++j) {
        bool any = false;
#pragma GCC unroll 16
        for (size_t k = 0; k < N; ++k) {
            o[k] = scan[o[k] + classes[starts[k][j]]];
            any |= o[k] >= hitFrom;
        }
        if (any) {
            for (size_t k = 0; k < N; ++k)
                if (o[k] >= hitFrom)
                    hit(k, o[k], j);
        }
    }
    for (size_t k = 0; k < N; ++k)
        offsets[k] = o[k];
}

// The walk above with the first `lanes` (2 or kMaxLanes) of the arrays.
template <typename Hit>
void WalkSomeLanes(size_t lanes, const uint32_t* scan, const uint8_t* classes,
                   const unsigned char* const (&starts)[kMaxLanes], size_t steps, uint32_t hitFrom,
                   uint32_t (&offsets)[kMaxLanes], Hit&& hit)
{
    static_assert(kMaxLanes == 4);
    if (lanes == 4) {
        WalkLanes<4>(scan, classes, starts, steps, hitFrom, offsets, hit);
        return;
    }
    const unsigned char* const two[2] = {starts[0], starts[1]};
    uint32_t twoOffsets[2] = {offsets[0], offsets[1]};
    WalkLanes<2>(scan, classes, two, steps, hitFrom, twoOffsets, hit);
    offsets[0] = twoOffsets[0];
    offsets[1] = twoOffsets[1];
}

} // namespace

bool IsSeparator(unsigned char c, bool alsoSpaces)
{
    return kSeparators[c] || (alsoSpaces && c == ' ');
}

#if defined(ORVELANE_HAVE_COMPACTION)
namespace {

constexpr decode::SByteSet kSeparatorSet([](unsigned char c) { return kSeparators[c]; });
constexpr decode::SByteSet kSeparatorOrSpaceSet([](unsigned char c) { return kSeparatorsAndSpace[c]; });

// The blocks of 16 from `in` on, each closed up in a register; returns where
// they end.
ORVELANE_COMPACTION_TARGET const char* RemoveInBlocks(const char* in, const char* end, char** out,
                                                      const decode::SByteSet& set)
{
    char* o = *out;
    for (; end - in >= 16; in += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const auto drop = static_cast<uint32_t>(_mm_movemask_epi8(decode::InSet(bytes, set)));
        o = decode::CompactBlock(bytes, ~drop, o);
    }
    *out = o;
    return in;
}

} // namespace
#endif

void RemoveSeparatorsInPlace(std::string& text, bool alsoSpaces)
{
    // Every byte is stored; the write position moves on only past a kept one.
    const bool* drop = alsoSpaces ? kSeparatorsAndSpace.data() : kSeparators.data();
    char* const begin = text.data();
    char* out = begin;
    const char* in = begin;
    const char* const end = begin + text.size();
#if defined(ORVELANE_HAVE_COMPACTION)
    if (decode::HasByteCompaction())
        in = RemoveInBlocks(in, end, &out, alsoSpaces ? kSeparatorOrSpaceSet : kSeparatorSet);
#endif
    for (; in != end; ++in) {
        *out = *in;
        out += !drop[static_cast<unsigned char>(*in)];
    }
    text.resize(static_cast<size_t>(out - begin));
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

void CPatternAutomaton::Finish(bool foldUpper, size_t maxCells)
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
    for (int c = 0; c < 256; ++c)
        m_scanClass[c] = m_class[foldUpper ? w1252::ToUpper(static_cast<unsigned char>(c)) : c];
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

    if (nodes * m_nClasses > maxCells) {
        m_bTooLarge = true;
        m_edges.clear();
        return;
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
// Packs the automaton's transitions into the scan table. Its rows are the
// nodes renumbered: those where no match ends first, then those where
// `flagged(node)` says one may, each group in breadth-first order, so the
// rows most walks stay in are together at the start. A cell holds the next
// row's offset (row * columns). Falls back to the plain walk when the table
// would not fit in 32-bit cells.
template <typename Flagged>
bool CRuleMatcher::BuildScanTable(size_t nodes, Flagged flagged)
{
    const size_t width = m_automaton.ClassCount();
    const int32_t* table = m_automaton.Table();
    if (nodes * width > UINT32_MAX) {
        m_bPlain = true;
        return false;
    }
    std::vector<uint32_t> row(nodes);
    m_nodeAt.clear();
    m_nodeAt.reserve(nodes);
    for (const bool hits : {false, true}) {
        if (hits)
            m_nHitFrom = static_cast<uint32_t>(m_nodeAt.size() * width);
        for (int32_t u : m_automaton.Order())
            if (flagged(static_cast<uint32_t>(u)) == hits) {
                row[static_cast<size_t>(u)] = static_cast<uint32_t>(m_nodeAt.size());
                m_nodeAt.push_back(u);
            }
    }
    m_scan.resize(nodes * width);
    for (size_t r = 0; r < nodes; ++r) {
        const int32_t* from = table + static_cast<size_t>(m_nodeAt[r]) * width;
        for (size_t c = 0; c < width; ++c)
            m_scan[r * width + c] = row[static_cast<size_t>(from[c])] * static_cast<uint32_t>(width);
    }
    m_automaton.ReleaseTable();
    return true;
}

CRuleMatcher::CRuleMatcher(const RuleList& list, EMode mode, bool stripSeparators, size_t maxCells)
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
        for (int32_t e = 0; e < count; ++e) {
            const std::string& pattern = m_searched[static_cast<size_t>(e)];
            nodeOf[static_cast<size_t>(e)] = m_automaton.Add(pattern);
            m_nLongest = std::max(m_nLongest, static_cast<int32_t>(pattern.size()));
        }
        m_automaton.Finish(true, maxCells);
        if (m_automaton.TooLarge()) {
            m_bPlain = true;
            return;
        }
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
        BuildScanTable(nodes, [this](uint32_t next) { return m_minEntry[next] != kNone; });
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
            if (star > start) {
                parts.push_back(m_automaton.Add(std::string_view(text).substr(start, star - start)));
                m_nLongestPart = std::max(m_nLongestPart, static_cast<int32_t>(star - start));
            }
            start = star + 1;
        }
        std::sort(parts.begin(), parts.end());
        parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
        m_partCount[static_cast<size_t>(e)] = static_cast<int32_t>(parts.size());
        if (parts.empty() && m_nAlwaysEntry == kNone)
            m_nAlwaysEntry = e;
    }
    m_automaton.Finish(false, maxCells);
    if (m_automaton.TooLarge()) {
        m_bPlain = true;
        return;
    }
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
    if (!BuildScanTable(nodes, [this](uint32_t next) {
            return m_endsPart[next] || m_outputLink[next] != -1;
        }))
        return;
    m_nodeSeen.assign(nodes, 0);
    m_entryEpoch.assign(static_cast<size_t>(count), 0);
    m_entryHits.assign(static_cast<size_t>(count), 0);
}

int32_t CRuleMatcher::PlainHeaderMatch(std::string_view text) const
{
    for (size_t e = 0; e < m_searched.size(); ++e) {
        const std::string_view entry = m_searched[e];
        bool match = true;
        size_t start = 0;
        while (match && start <= entry.size()) {
            size_t star = entry.find('*', start);
            if (star == std::string_view::npos)
                star = entry.size();
            if (star > start && text.find(entry.substr(start, star - start)) == std::string_view::npos)
                match = false;
            start = star + 1;
        }
        if (match)
            return static_cast<int32_t>(e);
    }
    return -1;
}

int32_t CRuleMatcher::PlainBodyMatch(std::string_view text, size_t start, size_t* position) const
{
    const std::string upper = w1252::Upper(text);
    for (size_t e = 0; e < m_searched.size(); ++e) {
        const size_t at = upper.find(m_searched[e], start);
        if (at != std::string::npos) {
            if (position)
                *position = at;
            return static_cast<int32_t>(e);
        }
    }
    return -1;
}

int32_t CRuleMatcher::FirstHeaderMatch(std::string_view text)
{
    if (m_entries.empty())
        return -1;
    if (m_bPlain)
        return PlainHeaderMatch(text);
    int32_t best = m_nAlwaysEntry;
    if (best == 0)
        return 0;
    if (++m_nEpoch == 0) { // wrapped: start the stamps afresh
        std::fill(m_nodeSeen.begin(), m_nodeSeen.end(), 0);
        std::fill(m_entryEpoch.begin(), m_entryEpoch.end(), 0);
        m_nEpoch = 1;
    }
    // Collect every distinct part that occurs in the text. A text that is
    // not short is cut into two or four stretches scanned side by side, so
    // that their chains of table look-ups overlap in time. Stretch k holds
    // the parts that start in [k * step, (k + 1) * step) and reads on by the
    // length of the longest part less one to see them end; the last one reads
    // to the end of the text. Every part is seen by the stretch where it
    // starts, some by the one before as well: what is collected is a set.
    m_found.clear();
    const uint8_t* classes = m_automaton.Classes();
    const uint32_t* scan = m_scan.data();
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t length = text.size();
    const size_t overlap = m_nLongestPart > 0 ? static_cast<size_t>(m_nLongestPart) - 1 : 0;
    const size_t lanes = LaneCount(length, overlap);
    size_t tail = 0;     // where the single scan of the rest starts
    uint32_t offset = 0; // its row * width there
    if (lanes > 1) {
        const size_t step = (length - overlap) / lanes;
        const size_t steps = step + overlap; // lanes * step + overlap <= length
        const unsigned char* starts[kMaxLanes] = {};
        for (size_t k = 0; k < lanes; ++k)
            starts[k] = bytes + k * step;
        uint32_t offsets[kMaxLanes] = {};
        WalkSomeLanes(lanes, scan, classes, starts, steps, m_nHitFrom, offsets,
                      [this](size_t, uint32_t at, size_t) { StampParts(at); });
        tail = (lanes - 1) * step + steps;
        offset = offsets[lanes - 1];
    }
    for (size_t i = tail; i < length; ++i) {
        offset = scan[offset + classes[bytes[i]]];
        if (offset >= m_nHitFrom)
            StampParts(offset);
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

// Stamps every part that ends at the node `state` (given as node * width):
// the node's own and those of its output chain. A stamped node's chain was
// stamped with it, so a stamped node ends the walk.
void CRuleMatcher::StampParts(uint32_t state)
{
    const int32_t node0 = m_nodeAt[state / static_cast<uint32_t>(m_automaton.ClassCount())];
    int32_t node = m_endsPart[static_cast<size_t>(node0)] ? node0 : m_outputLink[static_cast<size_t>(node0)];
    for (; node > 0 && m_nodeSeen[static_cast<size_t>(node)] != m_nEpoch;
         node = m_outputLink[static_cast<size_t>(node)]) {
        m_nodeSeen[static_cast<size_t>(node)] = m_nEpoch;
        m_found.push_back(node);
    }
}

int32_t CRuleMatcher::FirstBodyMatch(std::string_view text, size_t start, size_t* position) const
{
    if (m_entries.empty() || start > text.size())
        return -1;
    if (m_bPlain)
        return PlainBodyMatch(text, start, position);

    // A text that is not short is cut into two or four stretches scanned side
    // by side, so that their chains of table look-ups overlap in time. A
    // stretch after the first starts its scan early by the length of the
    // longest entry less one, without recording, so that it sees every match
    // that ends inside it; the stretches are cut so that each reads the same
    // number of bytes. Each keeps the lowest entry it saw end there and where
    // that entry first occurred. The lowest entry of all is the answer; if an
    // earlier stretch also saw it, that stretch's occurrence comes first.
    const size_t length = text.size() - start;
    const size_t overlap = m_nLongest > 0 ? static_cast<size_t>(m_nLongest) - 1 : 0;
    const size_t lanes = LaneCount(length, overlap);

    struct Lane {
        size_t from, recordFrom, to;
        uint32_t offset;
        int32_t best;
        size_t where;
    };
    Lane lane[kMaxLanes];
    // Each stretch reads `span` bytes, the last one up to the end.
    const size_t span = (length + (lanes - 1) * overlap + lanes - 1) / lanes;
    for (size_t k = 0; k < lanes; ++k) {
        lane[k].from = start + k * (span - overlap);
        lane[k].recordFrom = k == 0 ? start : lane[k].from + overlap;
        lane[k].to = k + 1 == lanes ? text.size() : lane[k].from + span;
        lane[k].offset = 0;
        lane[k].best = kNone;
        lane[k].where = 0;
    }

    const uint8_t* classes = m_automaton.Classes();
    const uint32_t* scan = m_scan.data();
    const auto width = static_cast<uint32_t>(m_automaton.ClassCount());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    auto record = [&](Lane& l, uint32_t offset, size_t i) {
        const auto node = static_cast<size_t>(m_nodeAt[offset / width]);
        if (i >= l.recordFrom && m_minEntry[node] < l.best) {
            l.best = m_minEntry[node];
            l.where = i + 1 - static_cast<size_t>(m_minLength[node]);
        }
    };

    if (lanes > 1) {
        // Every lane takes the same number of steps, as many as the last one
        // has; the byte or so the others have more is finished below.
        const size_t steps = lane[lanes - 1].to - lane[lanes - 1].from;
        const unsigned char* starts[kMaxLanes] = {};
        for (size_t k = 0; k < lanes; ++k)
            starts[k] = bytes + lane[k].from;
        uint32_t offsets[kMaxLanes] = {};
        WalkSomeLanes(lanes, scan, classes, starts, steps, m_nHitFrom, offsets,
                      [&](size_t k, uint32_t at, size_t j) { record(lane[k], at, lane[k].from + j); });
        for (size_t k = 0; k < lanes; ++k) {
            lane[k].offset = offsets[k];
            lane[k].from += steps;
        }
    }
    for (size_t k = 0; k < lanes; ++k) {
        Lane& l = lane[k];
        uint32_t offset = l.offset;
        for (size_t i = l.from; i < l.to; ++i) {
            offset = scan[offset + classes[bytes[i]]];
            if (offset >= m_nHitFrom)
                record(l, offset, i);
        }
    }

    // The empty entry is found at the start; otherwise the lowest entry seen.
    int32_t best = m_nEmptyEntry;
    size_t where = start;
    for (size_t k = 0; k < lanes; ++k)
        if (lane[k].best < best) {
            best = lane[k].best;
            where = lane[k].where;
        }
    if (best == kNone)
        return -1;
    if (position)
        *position = where;
    return best;
}
