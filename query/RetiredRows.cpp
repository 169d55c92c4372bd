#include "query/RetiredRows.h"

#include <malloc.h>

CRetiredRows::CRetiredRows() {
    // A zero timer fires once the event queue is empty: after the posted update requests that paint.
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { FreeNow(); });
}

void CRetiredRows::Retire(CMemRecord& record) {
    auto retired = std::make_unique<CMemRecord>();
    retired->Swap(record);
    m_records.push_back(std::move(retired));
    m_timer.start();
}

void CRetiredRows::FreeNow() {
    m_timer.stop();
    if (m_records.empty())
        return;
    m_records.clear();
#ifdef __GLIBC__
    // The rows' chunks are unmapped as they go; their longer texts and the row index came from the heap,
    // which keeps freed pages unless asked.
    malloc_trim(0);
#endif
}
