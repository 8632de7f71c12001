// Plain models of the main window's furniture. The core changes them; the
// window draws them. Each has one observer slot that the window fills; the two
// lists also report their changes row by row to an IRowObserver.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

// Row-level changes of a list, in the order an item-model adapter needs them:
// the "about to" calls come before the storage changes, the others after, so
// at every call the row count is the one the adapter expects. Row ranges are
// inclusive. A reset replaces the whole content. Every call has an empty
// default body; a list without columns never calls CellChanged.
class IRowObserver
{
public:
    virtual ~IRowObserver() = default;
    virtual void RowsAboutToBeInserted(int32_t /*first*/, int32_t /*last*/) {}
    virtual void RowsInserted(int32_t /*first*/, int32_t /*last*/) {}
    virtual void RowsAboutToBeRemoved(int32_t /*first*/, int32_t /*last*/) {}
    virtual void RowsRemoved(int32_t /*first*/, int32_t /*last*/) {}
    virtual void CellChanged(int32_t /*row*/, int /*column*/) {}
    virtual void ModelAboutToBeReset() {}
    virtual void ModelReset() {}
};

// What the two lists share: their observers, and the order in which a change
// is reported around the change of the storage.
class CObservedRows
{
public:
    // Called after every change, after the row-level call.
    std::function<void()> m_onChanged;
    // Not owned; null for none. The observer must not change the list from
    // its calls.
    IRowObserver* m_pRowObserver = nullptr;

protected:
    enum class EChange { kInsert, kRemove, kReset };
    // Reports `change` of row `index` (none for a reset) around `apply`, which
    // changes the storage.
    template <class Apply>
    void Report(EChange change, int32_t index, Apply&& apply)
    {
        if (m_pRowObserver) {
            if (change == EChange::kInsert)
                m_pRowObserver->RowsAboutToBeInserted(index, index);
            else if (change == EChange::kRemove)
                m_pRowObserver->RowsAboutToBeRemoved(index, index);
            else
                m_pRowObserver->ModelAboutToBeReset();
        }
        apply();
        if (m_pRowObserver) {
            if (change == EChange::kInsert)
                m_pRowObserver->RowsInserted(index, index);
            else if (change == EChange::kRemove)
                m_pRowObserver->RowsRemoved(index, index);
            else
                m_pRowObserver->ModelReset();
        }
        Changed();
    }
    void Changed()
    {
        if (m_onChanged)
            m_onChanged();
    }
};

// The mail list: rows of six columns (From, Subject, Spam, UIDL, Client UID, To)
// and the set of selected rows.
class CMailListModel : public CObservedRows
{
public:
    enum Column { kFrom = 0, kSubject, kSpam, kUidl, kClientUid, kTo, kColumnCount };
    using Row = std::array<std::string, kColumnCount>;

    // Inserts at `index`; an index past the end appends. Returns the row's index.
    int32_t InsertRow(int32_t index, Row row);
    void DeleteRow(int32_t index);
    void DeleteAllRows();
    void SetCell(int32_t index, int column, std::string text);
    int32_t RowCount() const { return static_cast<int32_t>(m_rows.size()); }
    const Row& RowAt(int32_t index) const { return m_rows.at(static_cast<size_t>(index)); }
    std::string Cell(int32_t index, int column) const;
    // Index of the first row whose Subject cell equals `subject`, or -1.
    int32_t FindBySubject(const std::string& subject) const;

    // Kept in step with insertions and removals: an index after a changed row
    // moves with it, a removed row leaves the set. It is already up to date
    // when RowsInserted and RowsRemoved are called.
    std::set<int32_t> m_selection;

private:
    // Rows leave at the front when the list is at its length limit.
    std::deque<Row> m_rows;
};

// The connection list box: sorted, duplicates allowed.
class CConnectionListModel : public CObservedRows
{
public:
    void Add(const std::string& address);
    // Deletes the first entry equal to `address`; false when there is none.
    bool Remove(const std::string& address);
    void Clear();
    const std::vector<std::string>& Entries() const { return m_entries; }
    int32_t Count() const { return static_cast<int32_t>(m_entries.size()); }

private:
    std::vector<std::string> m_entries;
};

// The two progress bars (0..100), the status line, the icon state and the
// caption.
struct CProgressModel {
    int32_t m_nMailbox = 0; // "Réception : " bar, position in the mailbox
    int32_t m_nMessage = 0; // "Message en cours : " bar, current message
    std::string m_strStatus;
    std::function<void()> m_onChanged;

    void Set(int32_t mailbox, int32_t message)
    {
        m_nMailbox = std::clamp(mailbox, 0, 100);
        m_nMessage = std::clamp(message, 0, 100);
        if (m_onChanged)
            m_onChanged();
    }
    void SetStatus(std::string text)
    {
        m_strStatus = std::move(text);
        if (m_onChanged)
            m_onChanged();
    }
    void Reset()
    {
        m_nMailbox = m_nMessage = 0;
        m_strStatus.clear();
        if (m_onChanged)
            m_onChanged();
    }
};

struct CTrayModel {
    bool m_bVisible = false; // the icon has been added
    bool m_bBusy = false;
    int32_t m_nAdds = 0;     // how many times the icon was (re-)added
    std::function<void()> m_onChanged;
};
