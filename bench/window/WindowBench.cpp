// The whole road of one tab's query in the real query window: 100,000 stop-loss / take-profit rows
// replayed by a fake counter server in this process, through CFixComm into the record set, the list refreshed
// and fitted and the window painted once; beside decoding the same reply bytes alone, the query without the
// window, the list's own part (model reset, column fitting, first paint) over rows already in the set, and
// F2 pressed on a warm window until the new rows are painted.
#include "QueryTestData.h"
#include "bench/support/StopProfitReply.h"

#include "host/com/FixComm.h"
#include "host/dbm/MemRecord.h"
#include "host/gui/OrvoListCtrl.h"
#include "module/ModuleState.h"
#include "platform/ModalLoop.h"
#include "platform/Resources.h"
#include "protocol/FrameReader.h"
#include "protocol/Header.h"
#include "query/ExtOrderQueryDlg.h"
#include "query/RuleQueries.h"
#include "query/RuleRecordLayouts.h"
#include "res/DialogTemplates.h"
#include "res/Resource.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using benchsupport::DecodeStopProfitReply;
using benchsupport::LoopClock;
using benchsupport::SetMsPer1000Rows;
using benchsupport::StopProfitReplyBytes;

namespace {

const int kTemplatesOwner = 0;

QApplication& App() {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "window-bench";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

// A line of /proc/self/status in KiB ("VmRSS:", the resident set; "VmHWM:", its peak).
long StatusKiB(const char* key) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    char line[256];
    long kib = 0;
    const std::size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, key, keyLength) == 0)
            kib = std::strtol(line + keyLength, nullptr, 10);
    std::fclose(status);
    return kib;
}

long ResidentKiB() {
    return StatusKiB("VmRSS:");
}

// Starts the peak over again at the resident size of now (false where the kernel cannot).
bool ResetPeakResident() {
    FILE* refs = std::fopen("/proc/self/clear_refs", "w");
    if (!refs)
        return false;
    const bool reset = std::fputs("5", refs) >= 0;
    return std::fclose(refs) == 0 && reset;
}

// Runs the event loop for a while, as a window the user leaves alone.
void StayIdle(std::chrono::steady_clock::duration duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

// A counter server reduced to replaying one reply: every request on its one connection is answered with
// the same rows, encoded once, only the echoed sequence number written in. What remains is the module's
// road: the socket, the channel, the record set and the window.
class ReplayServer {
public:
    explicit ReplayServer(std::size_t rows) : m_templates(TemplatesFor(rows)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listen, 1) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("window-bench: replay server on loopback");
            std::exit(1);
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~ReplayServer() {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        if (m_connection >= 0)
            ::shutdown(m_connection, SHUT_RDWR);
        m_thread.join();
        if (m_connection >= 0)
            ::close(m_connection);
    }
    int port() const { return m_port; }

private:
    struct Template {
        std::string bytes;
        std::vector<std::size_t> seqOffsets;
    };

    // Templates for sequence numbers of one to four digits, patched in place per request. Made once per
    // process and shared by the servers of every run (one at a time): made per run, their 80 MB would
    // fault in more pages than all the runs' queries together.
    static std::vector<Template>& TemplatesFor(std::size_t rows) {
        static std::map<std::size_t, std::vector<Template>> made;
        std::vector<Template>& templates = made[rows];
        if (templates.empty())
            for (std::uint32_t seq : {1u, 10u, 100u, 1000u}) {
                Template t;
                t.bytes = StopProfitReplyBytes(rows, seq, &t.seqOffsets);
                templates.push_back(std::move(t));
            }
        return templates;
    }

    void Serve() {
        m_connection = ::accept(m_listen, nullptr, nullptr);
        if (m_connection < 0)
            return;
        orvo::proto::FrameReader reader;
        orvo::proto::Frame frame;
        orvo::proto::Header header;
        char buffer[4096];
        while (!m_stop) {
            const ssize_t got = ::recv(m_connection, buffer, sizeof buffer, 0);
            if (got <= 0)
                return;
            reader.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
            while (reader.Next(frame) == orvo::proto::ReadResult::Frame) {
                orvo::proto::ReadHeader(frame.items, header);
                if (!Answer(header.seq))
                    return;
            }
        }
    }

    bool Answer(std::uint32_t seq) {
        const std::string digits = std::to_string(seq);
        if (digits.size() > m_templates.size())
            return false;
        Template& t = m_templates[digits.size() - 1];
        for (const std::size_t offset : t.seqOffsets)
            std::memcpy(&t.bytes[offset], digits.data(), digits.size());
        for (std::size_t sent = 0; sent < t.bytes.size();) {
            const ssize_t n =
                ::send(m_connection, t.bytes.data() + sent, t.bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    std::vector<Template>& m_templates;
    int m_listen = -1;
    int m_connection = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Notes the first paint of a widget after Arm(), or the first once `ready` holds (a paint of the rows
// shown before the query does not count).
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
    void Arm(std::function<bool()> ready = nullptr) {
        m_painted = false;
        m_ready = std::move(ready);
    }
    // Runs the event loop until the widget has painted; false if it has not within ten seconds.
    bool WaitForPaint() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!m_painted && std::chrono::steady_clock::now() < deadline)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        return m_painted;
    }
    std::optional<std::chrono::steady_clock::time_point> PaintedAt() const {
        return m_painted ? m_paintedAt : std::nullopt;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_painted && (!m_ready || m_ready())) {
            m_painted = true;
            m_paintedAt = std::chrono::steady_clock::now();
        }
        return false;
    }

private:
    bool m_painted = false;
    std::optional<std::chrono::steady_clock::time_point> m_paintedAt;
    std::function<bool()> m_ready;
};

// The replaying server, the channel and the code tables behind the module's globals.
struct Road {
    ReplayServer server;
    querytest::CodeTables tables;
    std::unique_ptr<CFixComm> fix;

    explicit Road(std::size_t rows) : server(rows) {
        FixCommSettings settings;
        settings.port = server.port();
        fix = std::make_unique<CFixComm>(settings);
        g_pFixComm = fix.get();
    }
    ~Road() { g_pFixComm = nullptr; }
};

// The query window opened modeless, its conditions dialog cancelled as it opens.
struct OpenWindow {
    CExtOrderQueryDlg dlg;

    OpenWindow() {
        orvo::RegisterDialogTemplates(&kTemplatesOwner, orvo::res::ModuleDialogTemplates());
        QTimer cancel;
        cancel.setInterval(1);
        QObject::connect(&cancel, &QTimer::timeout, [this] {
            if (dlg.m_dlgCondition.GetSafeHwnd())
                dlg.m_dlgCondition.EndDialog(IDCANCEL);
        });
        cancel.start();
        dlg.Create(IDD_EXT_ORDER_QUERY, nullptr);
        dlg.ShowWindow(SW_SHOWMAXIMIZED);
        QApplication::processEvents();
    }
    ~OpenWindow() {
        dlg.DestroyWindow();
        orvo::UnregisterDialogTemplates(&kTemplatesOwner);
    }
};

void BM_StopProfitTabToFirstPaint(benchmark::State& state) {
    App();
    const auto rows = static_cast<std::size_t>(state.range(0));
    Road road(rows);
    OpenWindow window;
    CExtOrderQueryDlg& dlg = window.dlg;
    dlg.m_tabKinds.SetCurSel(KIND_STOP_PROFIT);
    PaintWatch watch(dlg.m_listStopProfit.View()->viewport());
    LoopClock clock;
    for (auto _ : state) {
        clock.Start();
        watch.Arm();
        dlg.RefreshCurrentKind();
        const bool painted = watch.WaitForPaint();
        clock.Stop();
        if (!painted) {
            state.SkipWithError("no paint within ten seconds");
            break;
        }
    }
    if (dlg.m_recStopProfit.GetRecordCount() != static_cast<long>(rows) ||
        dlg.m_listStopProfit.View()->model()->rowCount() != static_cast<int>(rows))
        state.SkipWithError("wrong row count");
    SetMsPer1000Rows(state, rows, clock);
}

// Types keys into a widget's window through the X server: the window is given the input focus, and each
// key goes by the X test extension, so it arrives as a key from the keyboard does. Notes when the
// application has the key: the time xdotool takes to start and end is not the window's.
class XdotoolTypist : public QObject {
public:
    explicit XdotoolTypist(QWidget* widget) : m_window(std::to_string(widget->window()->winId())) {
        widget->window()->activateWindow();
        Run("xdotool windowfocus --sync " + m_window);
        QApplication::processEvents();
        qApp->installEventFilter(this);
    }
    ~XdotoolTypist() override { qApp->removeEventFilter(this); }
    void Type(const std::string& key) {
        m_keyAt.reset();
        Run("xdotool key " + key);
    }
    // When the key reached the application (empty before it has).
    std::optional<std::chrono::steady_clock::time_point> KeyAt() const { return m_keyAt; }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && !m_keyAt)
            m_keyAt = std::chrono::steady_clock::now();
        return false;
    }

private:
    static void Run(const std::string& command) {
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "window-bench: '%s' failed\n", command.c_str());
            std::exit(1);
        }
    }
    std::string m_window;
    std::optional<std::chrono::steady_clock::time_point> m_keyAt;
};

// What the user waits for: F2 pressed on the stop-loss list until its viewport has painted the new rows.
// The key goes through the application's event queue as a typed key does; the paint that counts is the
// first after the query's rows took the list's place (a paint of the old rows during the query does not).
void BM_StopProfitKeyToPaint(benchmark::State& state) {
    App();
    const auto rows = static_cast<std::size_t>(state.range(0));
    Road road(rows);
    OpenWindow window;
    CExtOrderQueryDlg& dlg = window.dlg;
    dlg.m_tabKinds.SetCurSel(KIND_STOP_PROFIT);
    dlg.RefreshCurrentKind(); // warm: the rows of a first query are on screen
    QTableView* list = dlg.m_listStopProfit.View();
    // Keys reach the window's PreTranslateMessage as they do while it runs modal in the client.
    orvo::ScopedMessageHook keys([](MSG& msg) { return orvo::WalkPreTranslateTree(msg); });
    PaintWatch watch(list->viewport());
    // On an X display with ORVO_BENCH_XDOTOOL set, the key comes from the X server (xdotool), as a typed
    // key does; else it is posted to the application's queue.
    std::unique_ptr<XdotoolTypist> typist;
    if (std::getenv("ORVO_BENCH_XDOTOOL") && QApplication::platformName() == QLatin1String("xcb"))
        typist = std::make_unique<XdotoolTypist>(list);
    StayIdle(std::chrono::seconds(3)); // the first query's replaced rows freed and their memory returned
    const long residentBefore = ResidentKiB();
    long peakGrowthKiB = 0;
    LoopClock clock;
    std::chrono::steady_clock::duration typedKeyToPaint{}; // from the key's arrival, with xdotool
    for (auto _ : state) {
        const long steady = ResidentKiB();
        const bool peakReset = ResetPeakResident();
        const unsigned long long shownBefore = dlg.m_recStopProfit.GetChangeStamp();
        watch.Arm([&] { return dlg.m_recStopProfit.GetChangeStamp() != shownBefore; });
        clock.Start();
        if (typist)
            typist->Type("F2");
        else
            QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier));
        const bool painted = watch.WaitForPaint();
        clock.Stop();
        if (typist && typist->KeyAt() && watch.PaintedAt())
            typedKeyToPaint += *watch.PaintedAt() - *typist->KeyAt();
        if (!typist)
            QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier));
        QApplication::processEvents(); // the rows replaced are freed once the event queue is empty
        if (peakReset)
            peakGrowthKiB = std::max(peakGrowthKiB, StatusKiB("VmHWM:") - steady);
        if (!painted) {
            state.SkipWithError("no paint of the new rows within ten seconds");
            break;
        }
    }
    // What a refresh costs in memory: its peak over the resident size before it, and what stays once the
    // window has been idle long enough to give the memory of the rows replaced back.
    StayIdle(std::chrono::seconds(3));
    state.counters["rss_growth_MiB"] = static_cast<double>(ResidentKiB() - residentBefore) / 1024.0;
    state.counters["refresh_peak_MiB"] = static_cast<double>(peakGrowthKiB) / 1024.0;
    state.counters["key_to_paint_ms"] =
        std::chrono::duration<double, std::milli>(typist ? typedKeyToPaint : clock.Total()).count() /
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    if (dlg.m_recStopProfit.GetRecordCount() != static_cast<long>(rows) ||
        dlg.m_listStopProfit.View()->model()->rowCount() != static_cast<int>(rows))
        state.SkipWithError("wrong row count");
    SetMsPer1000Rows(state, rows, clock);
}

// The same query into a record set, no window: what the list and the paint add is the difference.
void BM_StopProfitQueryOnly(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    Road road(rows);
    CMemRecord rec;
    rec.Create(GetRuleLayout(KIND_STOP_PROFIT), 0);
    QueryConditions cond;
    cond.m_strValidity = "0";
    LoopClock clock;
    for (auto _ : state) {
        clock.Start();
        QueryStopProfitRules(cond, rec);
        clock.Stop();
    }
    if (rec.GetRecordCount() != static_cast<long>(rows))
        state.SkipWithError("wrong row count");
    SetMsPer1000Rows(state, rows, clock);
}

// The list's own part over rows already in the set: model reset, columns fitted, first paint.
void BM_StopProfitListOnly(benchmark::State& state) {
    App();
    const auto rows = static_cast<std::size_t>(state.range(0));
    Road road(rows);
    OpenWindow window;
    CExtOrderQueryDlg& dlg = window.dlg;
    QueryConditions cond;
    QueryStopProfitRules(cond, dlg.m_recStopProfit);
    dlg.m_listPriceTrigger.ShowWindow(SW_HIDE);
    dlg.m_listStopProfit.ShowWindow(SW_SHOW);
    PaintWatch watch(dlg.m_listStopProfit.View()->viewport());
    const long residentBefore = ResidentKiB();
    LoopClock clock;
    for (auto _ : state) {
        clock.Start();
        watch.Arm();
        dlg.m_listStopProfit.Refresh(0);
        dlg.m_listStopProfit.AdjustField(-2);
        const bool painted = watch.WaitForPaint();
        clock.Stop();
        if (!painted) {
            state.SkipWithError("no paint within ten seconds");
            break;
        }
    }
    state.counters["list_rss_growth_MiB"] = static_cast<double>(ResidentKiB() - residentBefore) / 1024.0;
    if (dlg.m_listStopProfit.View()->model()->rowCount() != static_cast<int>(rows))
        state.SkipWithError("wrong row count");
    SetMsPer1000Rows(state, rows, clock);
}

// The same reply bytes decoded frame by frame, as the channel does before the module reads an item.
void BM_DecodeSameBytesOnly(benchmark::State& state) {
    DecodeStopProfitReply(state);
}

} // namespace

BENCHMARK(BM_DecodeSameBytesOnly)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StopProfitQueryOnly)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StopProfitListOnly)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StopProfitTabToFirstPaint)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StopProfitKeyToPaint)->Arg(100040)->Unit(benchmark::kMillisecond)->UseRealTime();
