// The rows a list showed before a query replaced them, kept until the window has painted the new ones:
// freeing 100,000 rows takes milliseconds the user would otherwise wait for between the query's end and
// the list on screen. Their memory then waits a moment for the next query (an F2 pressed again fills its
// rows into pages already there) and goes back to the system when none comes, so that the client's size
// after a refresh is that of one set of rows, not two.
#pragma once

#include "host/dbm/MemRecord.h"

#include <QTimer>

#include <memory>
#include <vector>

class CRetiredRows {
public:
    CRetiredRows();
    ~CRetiredRows();
    // Takes over the rows of `record` (which is left empty, without columns) and frees them once the
    // event loop has handled what is pending, paints included.
    void Retire(CMemRecord& record);
    // Frees them and gives their memory back now (the window closes).
    void FreeNow();

private:
    void Free();
    static void ReturnMemory();

    std::vector<std::unique_ptr<CMemRecord>> m_records;
    QTimer m_freeTimer;
    QTimer m_returnTimer;
};
