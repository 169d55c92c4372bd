// CFixComm's long replies: the connection lent to a read-ahead thread, its rows taken one per More(), and
// the connection given back when the reply ends or is left.
#include "host/com/FixCommImpl.h"

#include <cassert>
#include <new>
#include <system_error>

void CFixComm::Impl::StartReadAhead() {
    // Lent once per reply, and only while no row views the reader's bytes, which the thread will move.
    assert(CallerHoldsConnection() && !row.Shown());
    try {
        readAhead = std::make_unique<orvo::com::ReplyReadAhead>(socket, reader, seq, settings.replyTimeoutMs);
    } catch (const std::system_error&) {
        // No thread to be had (the process is at its limit): the rest of the reply is read here, more
        // slowly but the same; the socket and the reader were never lent.
    } catch (const std::bad_alloc&) {
        // Likewise.
    }
}

void CFixComm::Impl::StopReadAhead() {
    readAhead.reset(); // joins the thread
    assert(CallerHoldsConnection());
}

// The wait callback is asked between batches as well as while the rows are awaited, so that a long reply
// can still be cancelled and shows its progress.
auto CFixComm::Impl::NextRowFromReadAhead(long readFunction) -> Step {
    using Kind = orvo::com::ReplyReadAhead::Ending::Kind;
    using Arrival = orvo::com::ReplyReadAhead::Arrival;
    constexpr int kWaitSliceMs = 100;
    constexpr long kRowsBetweenWaitCalls = 256;
    // False when the caller cancels, or when whatever ran inside the callback gave up this reply.
    const auto goOn = [this] { return (!onWait || onWait(rows)) && readAhead; };
    for (;;) {
        std::size_t first = 0;
        switch (readAhead->NextRow(orvo::DeadlineAfter(kWaitSliceMs), rowItems, first)) {
        case Arrival::Row:
            if (rows % kRowsBetweenWaitCalls == 0 && !goOn())
                break;
            rowFirst = first;
            return Step::Row;
        case Arrival::Waiting:
            if (!goOn())
                break;
            continue;
        case Arrival::Ended: {
            const orvo::com::ReplyReadAhead::Ending ending = readAhead->HowItEnded();
            StopReadAhead();
            switch (ending.kind) {
            case Kind::End:
                endStatus = ending.status;
                endText = ending.text;
                endRowsSent = ending.rowsSent;
                endItems = ending.endItems;
                return Step::End;
            case Kind::Refused:
                return ConnectionRefusal(readFunction, ending.status, ending.text);
            case Kind::OutOfMemory:
                return TransportFailure(readFunction, orvo::com::ReadAheadOutOfMemoryText());
            case Kind::Faulted:
                return TransportFailure(readFunction, orvo::com::ReadAheadFaultText());
            case Kind::Broken:
            case Kind::Stopped:
                return TransportFailure(readFunction, ending.text);
            }
            return TransportFailure(readFunction, ending.text);
        }
        }
        // Cancelled: the reply ends with its connection.
        StopReadAhead();
        return Cancelled(readFunction);
    }
}
