// Named character entities.
//
// The rule: walk the '&' characters of the text in order; where the text from
// an '&' to the next ';' reads as a table name once its blanks are left out,
// every copy of that exact text in the whole text (before the walk position
// too) is replaced by the row's bytes, and the walk goes on one position
// further, counted in the text as it now stands.
//
// Done literally, each replacement rewrites the whole text, which a message
// full of distinct spaced forms of an entity turns into quadratic work. Here the
// text is cut into pieces that each begin at an '&' (apart from the first), and
// the pieces are indexed by the exact text that runs from their '&' to their
// first ';'. A replacement then touches only the pieces that hold a copy; the
// walk position is carried over by counting how much the text before it shrank.
#include "decode/MailDecoder.h"

#include "shell/MainDialog.h"
#include "shell/Texts.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace {

constexpr size_t kNoNode = static_cast<size_t>(-1);

struct SNameIndex {
    std::unordered_map<std::string_view, int> rows;
    size_t longest = 0;
    SNameIndex()
    {
        for (int i = 0; i < CMailDecoder::kEntityRows; ++i) {
            const auto name = CMailDecoder::EntityTable[i].name;
            rows.emplace(name, i); // the first row of a name wins
            longest = std::max(longest, name.size());
        }
    }
    // The row whose name equals `key` once its blanks are left out, or -1.
    int RowOf(std::string_view key) const
    {
        char stripped[16];
        size_t length = 0;
        for (const char c : key) {
            if (c == ' ')
                continue;
            if (length == longest)
                return -1;
            stripped[length++] = c;
        }
        const auto it = rows.find(std::string_view(stripped, length));
        return it == rows.end() ? -1 : it->second;
    }
};

const SNameIndex& Names()
{
    static const SNameIndex names;
    return names;
}

// Counts of ';' per piece, for "is there a ';' from here on".
class CCounts
{
public:
    explicit CCounts(size_t size) : m_tree(size + 1, 0) {}
    void Add(size_t at, int delta)
    {
        for (size_t i = at + 1; i < m_tree.size(); i += i & (~i + 1))
            m_tree[i] += delta;
    }
    int64_t Prefix(size_t count) const // sum of the first `count` entries
    {
        int64_t sum = 0;
        for (size_t i = count; i > 0; i -= i & (~i + 1))
            sum += m_tree[i];
        return sum;
    }

private:
    std::vector<int64_t> m_tree;
};

class CEntityText
{
public:
    explicit CEntityText(const std::string& text) : m_names(Names())
    {
        // The first piece runs up to the first '&' (it may be empty); every
        // other piece starts at an '&'.
        size_t start = 0;
        for (bool first = true;; first = false) {
            const size_t amp = text.find('&', first ? 0 : start + 1);
            const size_t end = amp == std::string::npos ? text.size() : amp;
            SPiece piece;
            piece.text.assign(text, start, end - start);
            m_pieces.push_back(std::move(piece));
            if (amp == std::string::npos)
                break;
            start = amp;
        }
        m_semis = std::make_unique<CCounts>(m_pieces.size());
        for (size_t i = 0; i < m_pieces.size(); ++i) {
            SPiece& piece = m_pieces[i];
            piece.prev = i == 0 ? kNoNode : i - 1;
            piece.next = i + 1 < m_pieces.size() ? i + 1 : kNoNode;
            piece.semis = static_cast<int>(std::count(piece.text.begin(), piece.text.end(), ';'));
            m_semis->Add(i, piece.semis);
            if (i == 0)
                piece.keyDone = true; // holds no '&'
            else
                ReadKey(i);
        }
    }

    // Runs the walk; returns whether anything was replaced.
    bool Decode()
    {
        bool replaced = false;
        size_t at = m_pieces.size() > 1 ? 1 : kNoNode;
        while (at != kNoNode) {
            const SPiece& piece = m_pieces[at];
            if (piece.semis == 0 && m_semis->Prefix(m_pieces.size()) - m_semis->Prefix(at + 1) == 0)
                break; // no ';' from here on
            if (piece.row < 0) {
                at = piece.next;
                continue;
            }
            replaced = true;
            at = ReplaceAll(at);
        }
        return replaced;
    }

    std::string Result() const
    {
        size_t total = 0;
        for (size_t i = 0; i != kNoNode; i = m_pieces[i].next)
            total += m_pieces[i].text.size();
        std::string out;
        out.reserve(total);
        for (size_t i = 0; i != kNoNode; i = m_pieces[i].next)
            out += m_pieces[i].text;
        return out;
    }

private:
    struct SPiece {
        std::string text;
        size_t prev = kNoNode;
        size_t next = kNoNode;
        bool alive = true;
        int semis = 0;
        // The key: the text from the '&' through the first ';', kept only when
        // it can be a table name (at most `longest` non-blank characters).
        bool keyDone = false;
        size_t scanned = 0;
        size_t nonBlank = 0;
        size_t keyLength = 0;
        int row = -1;
    };

    // Reads on in the piece's text until its key is known.
    void ReadKey(size_t index)
    {
        SPiece& piece = m_pieces[index];
        while (!piece.keyDone && piece.scanned < piece.text.size()) {
            const char c = piece.text[piece.scanned++];
            if (c == ' ')
                continue;
            ++piece.nonBlank;
            if (piece.nonBlank > m_names.longest) {
                piece.keyDone = true;
            } else if (c == ';') {
                piece.keyDone = true;
                piece.keyLength = piece.scanned;
                const std::string_view key(piece.text.data(), piece.keyLength);
                piece.row = m_names.RowOf(key);
                if (piece.row >= 0)
                    m_index[std::string(key)].push_back(index);
            }
        }
    }

    void ResetKey(size_t index)
    {
        SPiece& piece = m_pieces[index];
        piece.keyDone = false;
        piece.scanned = 0;
        piece.nonBlank = 0;
        piece.keyLength = 0;
        piece.row = -1;
        ReadKey(index);
    }

    // Replaces every copy of the key of piece `at`; returns the piece where the
    // walk goes on, or kNoNode.
    size_t ReplaceAll(size_t at)
    {
        const std::string key = m_pieces[at].text.substr(0, m_pieces[at].keyLength);
        const std::string_view replacement = CMailDecoder::EntityTable[m_pieces[at].row].replacement;
        const int replacementSemis = static_cast<int>(std::count(replacement.begin(), replacement.end(), ';'));

        std::vector<size_t> copies;
        if (auto it = m_index.find(key); it != m_index.end()) {
            copies.swap(it->second);
            m_index.erase(it);
        }
        std::sort(copies.begin(), copies.end());
        copies.erase(std::unique(copies.begin(), copies.end()), copies.end());

        int64_t shrink = 0; // how much the text before the walk position shrank
        size_t anchor = at;
        size_t anchorOffset = 0;
        for (const size_t index : copies) {
            SPiece& piece = m_pieces[index];
            if (!piece.alive || piece.keyLength != key.size() || piece.text.compare(0, key.size(), key) != 0)
                continue;
            if (index < at)
                shrink += static_cast<int64_t>(key.size()) - static_cast<int64_t>(replacement.size());
            const int semisAfter = piece.semis - 1 + replacementSemis;
            m_semis->Add(index, semisAfter - piece.semis);
            piece.semis = semisAfter;
            if (replacement == "&") {
                piece.text.replace(0, key.size(), replacement);
                ResetKey(index);
                continue;
            }
            // The piece loses its '&' and joins the one before it.
            const size_t into = piece.prev;
            SPiece& previous = m_pieces[into];
            if (index == at) {
                anchor = into;
                anchorOffset = previous.text.size();
            }
            previous.text += replacement;
            previous.text.append(piece.text, key.size(), std::string::npos);
            previous.semis += piece.semis;
            m_semis->Add(into, piece.semis);
            m_semis->Add(index, -piece.semis);
            previous.next = piece.next;
            if (piece.next != kNoNode)
                m_pieces[piece.next].prev = into;
            piece.alive = false;
            piece.text.clear();
            piece.text.shrink_to_fit();
            if (!previous.keyDone)
                ReadKey(into);
        }

        // The walk resumes at the old position plus one, in the new text: one
        // character past the replacement plus what the text before it lost.
        size_t skip = static_cast<size_t>(1 + shrink);
        size_t node = anchor;
        size_t offset = anchorOffset + skip;
        while (node != kNoNode && offset >= m_pieces[node].text.size()) {
            offset -= m_pieces[node].text.size();
            node = m_pieces[node].next;
        }
        if (node == kNoNode)
            return kNoNode;
        return offset == 0 ? node : m_pieces[node].next;
    }

    const SNameIndex& m_names;
    std::vector<SPiece> m_pieces;
    std::unique_ptr<CCounts> m_semis;
    std::unordered_map<std::string, std::vector<size_t>> m_index;
};

// True when some '&' of the untouched text starts a table name; otherwise the
// walk can change nothing.
bool MayHoldEntity(const std::string& text)
{
    const SNameIndex& names = Names();
    size_t amp = text.find('&');
    while (amp != std::string::npos) {
        size_t nonBlank = 0;
        for (size_t i = amp; i < text.size(); ++i) {
            const char c = text[i];
            if (c == ' ')
                continue;
            if (++nonBlank > names.longest || (c == '&' && i != amp))
                break;
            if (c == ';') {
                if (names.RowOf(std::string_view(text).substr(amp, i - amp + 1)) >= 0)
                    return true;
                break;
            }
        }
        amp = text.find('&', amp + 1);
    }
    return false;
}

} // namespace

std::string CMailDecoder::DecodeEntities(std::string text, bool log)
{
    if (!MayHoldEntity(text))
        return text;
    CEntityText pieces(text);
    if (!pieces.Decode())
        return text;
    Log(txt::kLogEntities, log);
    return pieces.Result();
}
