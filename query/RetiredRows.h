// The rows a list showed before a query replaced them, kept until the window has painted the new ones:
// freeing 100,000 rows takes milliseconds the user would otherwise wait for between the query's end and
// the list on screen. Once they are gone, memory the heap holds free goes back to the system, so that the
// client's size after a refresh is that of one set of rows, not two.
#pragma once

#include "host/dbm/MemRecord.h"

#include <QTimer>

#include <memory>
#include <vector>

class CRetiredRows {
public:
    CRetiredRows();
    // Takes over the rows of `record` (which is left empty, without columns) and frees them once the
    // event loop has handled what is pending, paints included.
    void Retire(CMemRecord& record);
    // Frees them now (the window closes, or a test wants the memory figure).
    void FreeNow();
    bool IsEmpty() const { return m_records.empty(); }

private:
    std::vector<std::unique_ptr<CMemRecord>> m_records;
    QTimer m_timer;
};
