// CKsEnumFilters: finds the KS filters of the machine that are in every one of a set of
// device-interface categories (SetupAPI), creates one filter object per device of the requested
// type, opens it, lists its pins and/or nodes, and keeps the filters that work.
//
// Ownership: m_listFilters owns its filters, in the order the platform listed their device
// interfaces; each run deletes the previous run's filters. Readers walk m_listFilters from
// m_pHead. Threading: none; the owner runs and reads it on one thread at a time.
#pragma once

#include "ks/filter.h"
#include "ks/tlist.h"

class CKsEnumFilters {
  public:
    explicit CKsEnumFilters(HRESULT& hr); // hr is always S_OK
    CKsEnumFilters(const CKsEnumFilters&) = delete;
    CKsEnumFilters& operator=(const CKsEnumFilters&) = delete;
    virtual ~CKsEnumFilters();

    // Deletes every filter in m_listFilters. Always S_OK.
    virtual HRESULT DestroyLists();

    // nFilterType: a KsFilterType (other values make plain CKsFilter objects). A device is taken
    // when it is present in aguidCategories[0] and has an active alias in every further category.
    // E_FAIL when no filter was kept.
    HRESULT EnumFilters(int nFilterType, const GUID* aguidCategories, ULONG cguidCategories,
                        BOOL fEnumeratePins, BOOL fEnumerateNodes, BOOL fInstantiate);

    // Walks m_listFilters from its head, stopping at its end or at an entry without a filter,
    // and returns the first filter for which pick(filter) is true, or NULL.
    template <typename Pick> CKsFilter* FirstFilter(Pick pick) const {
        for (TListNode<CKsFilter>* pNode = m_listFilters.m_pHead; pNode && pNode->pData;
             pNode = pNode->pNext) {
            if (pick(pNode->pData))
                return pNode->pData;
        }
        return NULL;
    }

    TList<CKsFilter> m_listFilters; // the filters of the last run; owned
};
