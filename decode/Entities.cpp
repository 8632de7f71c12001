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
#include "decode/ByteSearch.h"
#include "decode/MailDecoder.h"

#include "base/Texts.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace {

constexpr size_t kNoNode = static_cast<size_t>(-1);

// The table's names packed into 64 bits (every name has at most eight bytes
// and ends in ';', so two different names never pack alike), in an
// open-addressed table.
struct SNameIndex {
    static constexpr size_t kSlots = 512;
    uint64_t keys[kSlots] = {};
    int rows[kSlots] = {};
    size_t longest = 0;

    static size_t Slot(uint64_t packed) { return static_cast<size_t>((packed * 0x9E3779B97F4A7C15ull) >> 55); }

    SNameIndex()
    {
        for (int i = 0; i < CMailDecoder::kEntityRows; ++i) {
            const auto name = CMailDecoder::EntityTable[i].name;
            longest = std::max(longest, name.size());
            const uint64_t packed = Pack(name.data(), name.size());
            size_t slot = Slot(packed);
            while (keys[slot] != 0 && keys[slot] != packed)
                slot = (slot + 1) % kSlots;
            if (keys[slot] == 0) { // the first row of a name wins
                keys[slot] = packed;
                rows[slot] = i;
            }
        }
    }
    static uint64_t Pack(const char* bytes, size_t length)
    {
        uint64_t packed = 0;
        for (size_t i = 0; i < length; ++i)
            packed |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
        return packed;
    }
    // The row whose name equals `key` once its blanks are left out, or -1.
    int RowOf(std::string_view key) const
    {
        char stripped[8];
        size_t length = 0;
        for (const char c : key) {
            if (c == ' ')
                continue;
            if (length == longest || length == sizeof stripped)
                return -1;
            stripped[length++] = c;
        }
        if (length == 0)
            return -1;
        const uint64_t packed = Pack(stripped, length);
        for (size_t slot = Slot(packed); keys[slot] != 0; slot = (slot + 1) % kSlots)
            if (keys[slot] == packed)
                return rows[slot];
        return -1;
    }
};

const SNameIndex& Names()
{
    static const SNameIndex names;
    return names;
}

// FNV-1a of a key; equal hashes are checked against the text itself.
uint64_t HashOf(std::string_view key)
{
    uint64_t hash = 1469598103934665603ull;
    for (const char c : key)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

class CEntityText
{
public:
    explicit CEntityText(const std::string& text) : m_names(Names())
    {
        // The first piece runs up to the first '&' (it may be empty); every
        // other piece starts at an '&'.
        size_t ampersands = 0;
        for (size_t at = 0; (at = decode::FindEither(text.data(), at, text.size(), '&', '&')) < text.size(); ++at)
            ++ampersands;
        m_pieces.reserve(ampersands + 1);
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
        for (size_t i = 0; i < m_pieces.size(); ++i) {
            SPiece& piece = m_pieces[i];
            piece.prev = i == 0 ? kNoNode : i - 1;
            piece.next = i + 1 < m_pieces.size() ? i + 1 : kNoNode;
            if (i == 0)
                piece.keyDone = true; // holds no '&'
            else
                ReadKey(i);
        }
    }

    // Runs the walk; returns whether anything was replaced. (The walk may end
    // at the first '&' with no ';' after it; going on instead changes nothing,
    // since no later '&' can then start a name.)
    bool Decode()
    {
        bool replaced = false;
        size_t at = m_pieces.size() > 1 ? 1 : kNoNode;
        while (at != kNoNode) {
            const SPiece& piece = m_pieces[at];
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
        // The key: the text from the '&' through the first ';', kept only when
        // it can be a table name (at most `longest` non-blank characters).
        uint32_t scanned = 0;
        uint32_t keyLength = 0;
        int16_t row = -1;
        uint8_t nonBlank = 0;
        bool keyDone = false;
        bool alive = true;
    };

    // Reads on in the piece's text until its key is known.
    void ReadKey(size_t index)
    {
        SPiece& piece = m_pieces[index];
        while (!piece.keyDone && piece.scanned < piece.text.size()) {
            const char c = piece.text[piece.scanned++]; // pieces stay below 4 GB: texts are bounded
            if (c == ' ')
                continue;
            ++piece.nonBlank;
            if (piece.nonBlank > m_names.longest) {
                piece.keyDone = true;
            } else if (c == ';') {
                piece.keyDone = true;
                piece.keyLength = piece.scanned;
                const std::string_view key(piece.text.data(), piece.keyLength);
                piece.row = static_cast<int16_t>(m_names.RowOf(key));
                if (piece.row >= 0)
                    ListOf(HashOf(key)).push_back(index);
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

        std::vector<size_t> copies;
        if (auto it = m_index.find(HashOf(key)); it != m_index.end()) {
            copies.swap(it->second); // the entry stays: cached pointers to it remain valid
        }
        if (!std::is_sorted(copies.begin(), copies.end()))
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
            if (replacement == "&") {
                piece.text.erase(1, key.size() - 1); // keeps the '&' that starts the key
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
    // Pieces by the hash of their key; entries go stale when a key changes and
    // are checked when used.
    std::unordered_map<uint64_t, std::vector<size_t>> m_index;
    // The lists used last, by hash: a text's keys repeat a lot.
    struct SRecent {
        uint64_t hash = 0;
        std::vector<size_t>* list = nullptr;
    };
    SRecent m_recent[16];

    std::vector<size_t>& ListOf(uint64_t hash)
    {
        SRecent& recent = m_recent[hash & 15];
        if (!recent.list || recent.hash != hash) {
            recent.hash = hash;
            recent.list = &m_index[hash];
        }
        return *recent.list;
    }
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
    Write(txt::kLogEntities, log);
    return pieces.Result();
}
