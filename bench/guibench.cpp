// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the main window with a generated hosts file (200,000 lines, or
// `--lines N`) under the offscreen platform: start-up beyond a one-line file, rebuilding the list,
// ADD, REMOVE and REMOVE ALL including their rebuild and repaint, and
// opening the entry editor and saving an edit (duplicate scan and rebuild).
//
// With `--save-peak` it instead starts one window on the file, presses
// Ctrl+Enter (SAVE/CLOSE writes the file and ends the program) and prints
// the time that took and the process's peak resident memory, as the real
// program started on such a hosts file and saved would reach.
#include "frmmain.h"
#include "generatedhosts.h"
#include "messagebox.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QTimer>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTableView>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

struct MainWindowBench {
    static void refreshList(frmMain& window) { window.RefreshList(); }
};

namespace {

constexpr int kRuns = 7;

std::unique_ptr<frmMain> openWindow(const std::string& path)
{
    auto window = std::make_unique<frmMain>([path] { return path; });
    window->Form_Load();
    QCoreApplication::processEvents();
    return window;
}

void selectRow(frmMain& window, int row)
{
    auto* list = window.findChild<QTableView*>("lstHosts");
    list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// The peak resident memory of this process so far, in MiB (Linux: VmHWM).
double peakResidentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

int savePeak(const std::string& path)
{
    QElapsedTimer clock;
    clock.start();
    frmMain window([path] { return path; });
    window.Form_Load();
    QCoreApplication::processEvents();
    const double startMs = clock.nsecsElapsed() / 1e6;
    const double startPeak = peakResidentMiB();
    bool ended = false;
    QObject::connect(&window, &frmMain::programEnding, [&] { ended = true; });
    QWidget* focus = window.focusWidget() ? window.focusWidget() : &window;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::ControlModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::ControlModifier);
    clock.restart();
    QApplication::sendEvent(focus, &press);
    QApplication::sendEvent(focus, &release);
    const double saveMs = clock.nsecsElapsed() / 1e6;
    if (!ended) {
        std::fprintf(stderr, "guibench: Ctrl+Enter did not save and end\n");
        return 1;
    }
    std::printf("start_ms=%.1f save_close_ms=%.1f peak_rss_mib=%.1f (%.1f after start) entries=%zu\n", startMs, saveMs,
                peakResidentMiB(), startPeak, window.cHosts.size());
    return 0;
}

template <typename Action>
double timedWithRepaint(Action&& action)
{
    return medianMilliseconds(kRuns, [&] {
        action();
        QCoreApplication::processEvents();
    });
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::messagescript::enable(true); // notices answer Yes, REMOVE ALL answers Yes

    int lines = 200000;
    bool savePeakOnly = false;
    QString generateOnly;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--lines" && i + 1 < argc)
            lines = std::max(1, std::atoi(argv[i + 1]));
        else if (QByteArray(argv[i]) == "--save-peak")
            savePeakOnly = true;
        else if (QByteArray(argv[i]) == "--generate" && i + 1 < argc)
            generateOnly = QString::fromLocal8Bit(argv[++i]);
    }
    if (!generateOnly.isEmpty()) {
        std::ofstream(generateOnly.toStdString(), std::ios::binary) << generatedHostsFile(lines);
        return 0;
    }

    QTemporaryDir directory;
    const std::string large = directory.filePath("large.hosts").toStdString();
    const std::string oneLine = directory.filePath("one-line.hosts").toStdString();
    if (savePeakOnly) {
        // Made by another process: making it here would count toward the peak.
        QProcess::execute(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("--generate"), QString::fromStdString(large), QStringLiteral("--lines"),
                           QString::number(lines)});
        return savePeak(large);
    }
    std::ofstream(large, std::ios::binary) << generatedHostsFile(lines);
    std::ofstream(oneLine, std::ios::binary) << "127.0.0.1 localhost\r\n";

    const double oneLineStartMs = medianMilliseconds(kRuns, [&] { openWindow(oneLine); });
    const double largeStartMs = medianMilliseconds(kRuns, [&] { openWindow(large); });

    auto window = openWindow(large);
    const double refreshMs = timedWithRepaint([&] { MainWindowBench::refreshList(*window); });

    int added = 0;
    const double addMs = timedWithRepaint([&] {
        window->findChild<QLineEdit*>("txtHost")->setText(QStringLiteral("added-%1.example").arg(++added));
        window->findChild<QPushButton*>("cmdAdd")->click();
    });

    const double removeMs = timedWithRepaint([&] {
        selectRow(*window, 1);
        window->findChild<QPushButton*>("cmdRemove")->click();
    });

    // The editor is modal: its part is timed from inside its own event loop.
    std::vector<double> openTimes;
    std::vector<double> saveTimes;
    for (int run = 0; run < kRuns; ++run) {
        selectRow(*window, 1);
        QElapsedTimer clock;
        double saveStartedMs = 0;
        QTimer::singleShot(0, [&] {
            openTimes.push_back(clock.nsecsElapsed() / 1e6);
            auto* editor = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            editor->findChild<QLineEdit*>("txtIP")->setText(QStringLiteral("10.9.9.%1").arg(run));
            saveStartedMs = clock.nsecsElapsed() / 1e6;
            editor->findChild<QPushButton*>("cmdSaveClose")->click();
        });
        clock.start();
        window->lstHosts_DblClick();
        QCoreApplication::processEvents();
        saveTimes.push_back(clock.nsecsElapsed() / 1e6 - saveStartedMs);
    }
    std::sort(openTimes.begin(), openTimes.end());
    std::sort(saveTimes.begin(), saveTimes.end());

    std::vector<std::unique_ptr<frmMain>> fresh;
    for (int run = 0; run < kRuns; ++run)
        fresh.push_back(openWindow(large));
    std::size_t next = 0;
    const double removeAllMs = timedWithRepaint(
        [&] { fresh[next++]->findChild<QPushButton*>("cmRemoveAll")->click(); });

    std::printf("startup_extra_ms=%.2f (one line %.2f, large %.2f) refresh_ms=%.2f add_ms=%.2f remove_ms=%.2f "
                "remove_all_ms=%.2f editor_open_ms=%.2f editor_save_ms=%.2f entries=%zu\n",
                largeStartMs - oneLineStartMs, oneLineStartMs, largeStartMs, refreshMs, addMs, removeMs, removeAllMs,
                openTimes[openTimes.size() / 2], saveTimes[saveTimes.size() / 2], window->cHosts.size());
    return 0;
}
