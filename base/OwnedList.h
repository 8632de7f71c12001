// The one collection type of the system: a singly linked list that owns its
// items, with a cursor remembered between `first`/`next` steps. Items are
// compared by identity. An index of the nodes in order makes `at` one step
// whatever the position: a scan asks for messages by number thousands of
// times, not always in order.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

template <typename T>
class OwnedList
{
    struct Node {
        std::unique_ptr<T> item;
        Node* next = nullptr;
    };

public:
    OwnedList() = default;
    OwnedList(const OwnedList&) = delete;
    OwnedList& operator=(const OwnedList&) = delete;
    ~OwnedList() { clear(); }

    // Appends the item; its node becomes the last appended node and the cursor.
    T* append(std::unique_ptr<T> item)
    {
        Node* node = new Node{std::move(item), nullptr};
        m_index.push_back(node);
        m_pLastAppended = node;
        m_pCursor = node;
        ++m_nCount;
        if (m_pTail) {
            m_pTail->next = node;
            m_pTail = node;
        } else {
            m_pHead = m_pTail = node;
        }
        return node->item.get();
    }

    T* first()
    {
        m_pCursor = m_pHead;
        return m_pHead ? m_pHead->item.get() : nullptr;
    }

    // The item after `item` (after the cursor when it holds `item`), or the
    // first item when `item` is null. Past the end the cursor is cleared.
    T* next(const T* item)
    {
        if (!item)
            return first();
        Node* node = (m_pCursor && m_pCursor->item.get() == item) ? m_pCursor : findNode(item);
        if (node && node->next) {
            m_pCursor = node->next;
            return m_pCursor->item.get();
        }
        m_pCursor = nullptr;
        return nullptr;
    }

    // Unlinks the item and hands it back to the caller; null when absent.
    std::unique_ptr<T> remove(const T* item)
    {
        if (!item || !m_pHead || m_nCount == 0)
            return nullptr;
        Node* prev = nullptr;
        Node* node = m_pHead;
        size_t position = 0;
        while (node && node->item.get() != item) {
            prev = node;
            node = node->next;
            ++position;
        }
        if (!node)
            return nullptr;
        if (!prev) {
            m_pHead = node->next;
            if (!m_pHead)
                m_pTail = nullptr;
        } else {
            prev->next = node->next;
            if (m_pTail == node)
                m_pTail = prev;
        }
        if (m_pLastAppended == node)
            m_pLastAppended = nullptr;
        if (m_pCursor == node)
            m_pCursor = nullptr;
        m_index.erase(m_index.begin() + static_cast<std::ptrdiff_t>(position));
        std::unique_ptr<T> out = std::move(node->item);
        delete node;
        --m_nCount;
        return out;
    }

    // Releases every item and node.
    void clear()
    {
        Node* node = m_pHead;
        while (node) {
            Node* following = node->next;
            delete node;
            node = following;
        }
        m_pHead = m_pTail = m_pLastAppended = m_pCursor = nullptr;
        m_index.clear();
        m_nCount = 0;
    }

    // The n-th item counted from 1 (it becomes the cursor), or null outside
    // 1..count.
    T* at(int32_t n)
    {
        if (n < 1 || n > m_nCount)
            return nullptr;
        m_pCursor = m_index[static_cast<size_t>(n - 1)];
        return m_pCursor->item.get();
    }

    // Position counted from 1, or 0 when the item is not in the list.
    int32_t indexOf(const T* item) const
    {
        int32_t i = 1;
        for (Node* node = m_pHead; node; node = node->next, ++i)
            if (node->item.get() == item)
                return i;
        return 0;
    }

    int32_t count() const { return m_nCount; }
    bool empty() const { return m_nCount == 0; }
    T* head() const { return m_pHead ? m_pHead->item.get() : nullptr; }
    T* tail() const { return m_pTail ? m_pTail->item.get() : nullptr; }
    T* lastAppended() const { return m_pLastAppended ? m_pLastAppended->item.get() : nullptr; }
    T* cursor() const { return m_pCursor ? m_pCursor->item.get() : nullptr; }

    // Plain iteration over the items, head to tail; does not touch the cursor.
    class iterator
    {
    public:
        explicit iterator(Node* n) : m_node(n) {}
        T* operator*() const { return m_node->item.get(); }
        iterator& operator++()
        {
            m_node = m_node->next;
            return *this;
        }
        bool operator!=(const iterator& other) const { return m_node != other.m_node; }
        bool operator==(const iterator& other) const { return m_node == other.m_node; }

    private:
        Node* m_node;
    };
    iterator begin() const { return iterator(m_pHead); }
    iterator end() const { return iterator(nullptr); }

private:
    Node* findNode(const T* item) const
    {
        if (!item)
            return nullptr;
        for (Node* node = m_pHead; node; node = node->next)
            if (node->item.get() == item)
                return node;
        return nullptr;
    }

    Node* m_pTail = nullptr;
    Node* m_pHead = nullptr;
    Node* m_pLastAppended = nullptr;
    Node* m_pCursor = nullptr;
    // Every node, head to tail.
    std::vector<Node*> m_index;
    int32_t m_nCount = 0;
};
