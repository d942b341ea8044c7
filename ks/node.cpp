// The topology nodes of a filter: CKsNode and CKsFilter::EnumerateNodes.
#include "ks/filter.h"

#include "ks/kstrace.h"

#include <cstdlib>
#include <new>

CKsNode::CKsNode(ULONG nId, REFGUID guidType, HRESULT& hr)
    : m_nId(nId), m_dwTag(0x454E4F4E), m_guidType(guidType) {
    KsTraceEnter("CKsNode::CKsNode()");
    hr = S_OK;
    KsTraceLeave("CKsNode::CKsNode", hr);
}

static void DeleteNodes(TList<CKsNode>& list) {
    while (list.m_pHead)
        delete list.RemoveHead();
}

/*----------------------------------------------------------------------------------------------
 * EnumerateNodes: reads KSPROPERTY_TOPOLOGY_NODES (a KSMULTIPLE_ITEM header and Count node-type
 * GUIDs) into m_listNodes. Either every node is listed (S_OK), or the list is left empty: a node
 * lost for want of memory gives E_FAIL, as does an answer whose Count does not fit its block.
 *--------------------------------------------------------------------------------------------*/
HRESULT CKsFilter::EnumerateNodes() {
    KsTraceEnter("CKsFilter::EnumerateNodes()");
    DeleteNodes(m_listNodes);
    PKSMULTIPLE_ITEM pmiNodes = NULL;
    ULONG cbBlock = 0;
    HRESULT hr =
        GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &pmiNodes, &cbBlock);
    if (SUCCEEDED(hr) && pmiNodes &&
        pmiNodes->Count > (cbBlock - sizeof(KSMULTIPLE_ITEM)) / sizeof(GUID))
        hr = E_FAIL;
    if (FAILED(hr)) {
        DebugTrace(4, "Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES");
    } else if (pmiNodes) {
        const GUID* pguidTypes = (const GUID*)(pmiNodes + 1);
        for (ULONG i = 0; i < pmiNodes->Count; i++) {
            HRESULT hrNode = S_OK;
            CKsNode* pNode = new (std::nothrow) CKsNode(i, pguidTypes[i], hrNode);
            if (pNode && !m_listNodes.AddTail(pNode))
                delete pNode;
        }
        if ((ULONG)m_listNodes.m_lCount != pmiNodes->Count) {
            hr = E_FAIL;
            DeleteNodes(m_listNodes);
        }
    }
    free(pmiNodes);
    return KsTraceLeave("CKsFilter::EnumerateNodes", hr);
}
