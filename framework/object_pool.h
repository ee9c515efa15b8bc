// A pool of records handed out and taken back from any thread. Records are made in
// batches and reused, so a steady stream of cross-thread commands makes no new records;
// the two bookkeeping sets, which tell a record in use from a free one, still allocate a
// node on every take and return.
#pragma once

#include "support/format.h"

#include <cstddef>
#include <mutex>
#include <new>
#include <set>
#include <string>

template <class T> class CObjectPool {
public:
    // pszFreeTrace is the debug-output text for a release of a record not in use.
    CObjectPool(size_t nGrowCount, size_t nInitialCount, const char* pszFreeTrace)
        : m_nGrowCount(nGrowCount), m_strFreeTrace(pszFreeTrace) {
        std::lock_guard<std::mutex> lock(m_cs);
        Grow(nInitialCount);
    }
    ~CObjectPool() {
        std::lock_guard<std::mutex> lock(m_cs);
        for (T* p : m_setFree)
            delete p;
        m_setFree.clear();
        for (T* p : m_setInUse)
            delete p;
        m_setInUse.clear();
    }
    CObjectPool(const CObjectPool&) = delete;
    CObjectPool& operator=(const CObjectPool&) = delete;

    // A free record, growing the pool when none is left; null when growth is not
    // allowed or memory ran out. Records come back as they were left.
    T* AllocObject() {
        std::lock_guard<std::mutex> lock(m_cs);
        if (m_setFree.empty()) {
            if (m_nGrowCount == 0)
                return nullptr;
            Grow(m_nGrowCount);
            if (m_setFree.empty())
                return nullptr;
        }
        T* p = *m_setFree.begin();
        m_setFree.erase(m_setFree.begin());
        m_setInUse.insert(p);
        return p;
    }

    // Takes a record back. One that was not in use is traced and joins the free set.
    void FreeObject(T* p) {
        if (p == nullptr)
            return;
        std::lock_guard<std::mutex> lock(m_cs);
        if (m_setInUse.erase(p) == 0)
            TraceDebug("%s", m_strFreeTrace.c_str());
        m_setFree.insert(p);
    }

    size_t FreeCount() {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_setFree.size();
    }
    size_t InUseCount() {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_setInUse.size();
    }
    size_t TotalCount() {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_setFree.size() + m_setInUse.size();
    }

private:
    // Caller holds m_cs.
    void Grow(size_t nCount) {
        for (size_t i = 0; i < nCount; ++i) {
            T* p = new (std::nothrow) T();
            if (p == nullptr)
                break;
            m_setFree.insert(p);
        }
    }

    std::mutex m_cs;
    std::set<T*> m_setFree;
    std::set<T*> m_setInUse;
    const size_t m_nGrowCount;
    const std::string m_strFreeTrace;
};
