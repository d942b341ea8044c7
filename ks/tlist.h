// The KS layer's one container: a doubly linked list of item pointers that never owns its items.
// The owner empties a list (RemoveHead in a loop) and disposes of each item by its own rule
// before the list is destroyed.
#pragma once

#include <windows.h>
#include <cassert>
#include <new>

template <typename T> struct TListNode {
    TListNode* pNext; // next node, null at the tail
    TListNode* pPrev; // previous node, null at the head
    T* pData;         // the item; not owned by the list
};

template <typename T> class TList {
  public:
    TListNode<T>* m_pHead = nullptr; // first node, null when empty
    TListNode<T>* m_pTail = nullptr; // last node, null when empty
    LONG m_lCount = 0;               // number of nodes

    TList() = default;
    TList(const TList&) = delete;
    TList& operator=(const TList&) = delete;

    ~TList() {
        assert(NULL == m_pHead);
        assert(NULL == m_pTail);
        assert(0 == m_lCount);
    }

    // Appends one node carrying pData. Returns the node, or null (list unchanged) without memory.
    TListNode<T>* AddTail(T* pData) {
        TListNode<T>* pNode = new (std::nothrow) TListNode<T>;
        if (!pNode)
            return nullptr;
        pNode->pNext = nullptr;
        pNode->pData = pData;
        pNode->pPrev = m_pTail;
        if (m_pTail)
            m_pTail->pNext = pNode;
        else
            m_pHead = pNode;
        m_pTail = pNode;
        m_lCount++;
        return pNode;
    }

    // Unlinks and frees the first node and returns its item. The list must not be empty.
    T* RemoveHead() {
        TListNode<T>* pNode = m_pHead;
        T* pData = pNode->pData;
        m_pHead = pNode->pNext;
        if (m_pHead)
            m_pHead->pPrev = nullptr;
        else
            m_pTail = nullptr;
        delete pNode;
        m_lCount--;
        assert(m_lCount >= 0);
        return pData;
    }

    // Unlinks and frees pOldItem, a node of this list.
    void Remove(TListNode<T>* pOldItem) {
        if (pOldItem == m_pHead) {
            m_pHead = pOldItem->pNext;
        } else {
            assert(pOldItem->pPrev);
            pOldItem->pPrev->pNext = pOldItem->pNext;
        }
        if (pOldItem == m_pTail) {
            m_pTail = pOldItem->pPrev;
        } else {
            assert(pOldItem->pNext);
            pOldItem->pNext->pPrev = pOldItem->pPrev;
        }
        delete pOldItem;
        m_lCount--;
        assert(m_lCount >= 0);
    }
};
