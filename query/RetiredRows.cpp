#include "query/RetiredRows.h"

#include <malloc.h>

namespace {
// How long freed rows wait for the next query before their memory goes back to the system.
constexpr int kReturnAfterMs = 2000;
} // namespace

CRetiredRows::CRetiredRows() {
    // A zero timer fires once the event queue is empty: after the posted update requests that paint.
    m_freeTimer.setSingleShot(true);
    m_freeTimer.setInterval(0);
    QObject::connect(&m_freeTimer, &QTimer::timeout, [this] { Free(); });
    m_returnTimer.setSingleShot(true);
    m_returnTimer.setInterval(kReturnAfterMs);
    QObject::connect(&m_returnTimer, &QTimer::timeout, [] { ReturnMemory(); });
}

CRetiredRows::~CRetiredRows() {
    FreeNow();
}

void CRetiredRows::Retire(CMemRecord& record) {
    auto retired = std::make_unique<CMemRecord>();
    retired->Swap(record);
    m_records.push_back(std::move(retired));
    m_returnTimer.stop();
    m_freeTimer.start();
}

void CRetiredRows::Free() {
    m_records.clear();
    m_returnTimer.start();
}

void CRetiredRows::FreeNow() {
    m_freeTimer.stop();
    m_returnTimer.stop();
    m_records.clear();
    ReturnMemory();
}

void CRetiredRows::ReturnMemory() {
    ReleaseSpareRecordMemory();
#ifdef __GLIBC__
    // The longer texts and the row index of the sets came from the heap, which keeps freed pages unless
    // asked.
    malloc_trim(0);
#endif
}
